#pragma once

#include "platform/Desktop.h"
#include "platform/Geometry.h"

#include <QRect>

#include <memory>
#include <string>

class QWidget;

namespace tandem {

class CardWidget;

// A status card as a frameless window in front of every other, which never takes focus or activates
// Tandem, showing the card drawn by TandemCardArt at the window's size. GUI thread only.
class QtCardWindow final : public CardWindow {
public:
    // Needs a QApplication. The window is placed at the card's frame and ordered front at once.
    explicit QtCardWindow(const CardWindowPlan& plan);
    ~QtCardWindow() override;
    QtCardWindow(const QtCardWindow&) = delete;
    QtCardWindow& operator=(const QtCardWindow&) = delete;

    void setStatus(const std::string& status) override;
    void close() override;

    // What the card shows.
    const std::string& status() const;
    // The window itself: its geometry is where Qt put it (top-left, y down).
    QWidget* window() const;

    // The Qt geometry (virtual desktop, y down) of a frame in global coordinates (origin at the
    // bottom-left of the primary screen, y up), for the primary screen's Qt geometry.
    static QRect qtGeometry(const Rect& global, const QRect& primaryScreen);

private:
    std::unique_ptr<CardWidget> card;
};

} // namespace tandem
