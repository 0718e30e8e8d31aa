#pragma once

#include "platform/Panels.h"

#include <QPoint>
#include <QRect>

#include <functional>
#include <memory>

class QWidget;

namespace tandem {

class PanelWindow;

// A panel as a frameless tool window that stays on top and never takes focus or activates Tandem.
// Every call, and `onTap`, runs on the GUI thread, which is the program's main queue.
class QtPanel final : public Panel {
public:
    // `onTap` is called on the GUI thread with the tag of a button pressed and released over it.
    QtPanel(PanelPlan plan, std::function<void(int tag)> onTap);
    ~QtPanel() override;
    QtPanel(const QtPanel&) = delete;
    QtPanel& operator=(const QtPanel&) = delete;

    void setOrigin(Point origin) override;
    void orderFront() override;
    void orderOut() override;
    bool isVisible() const override;
    void setButton(const PanelButton& button) override;
    void close() override;

    const PanelPlan& plan() const;
    // The window itself, for tests and for placing it beside others.
    QWidget* window() const;

    // The window's top-left corner in Qt's global coordinates (y down) for a bottom-left corner in
    // global window-system coordinates (origin at the bottom-left of the primary screen, y up).
    static QPoint topLeftFor(Point origin, double height, const QRect& primaryScreen);

private:
    std::unique_ptr<PanelWindow> panel;
    bool closed = false;
};

class QtPanels final : public Panels {
public:
    // Needs a QApplication; `onTap` is called on the GUI thread.
    std::unique_ptr<Panel> makePanel(const PanelPlan& plan, std::function<void(int tag)> onTap) override;
};

} // namespace tandem
