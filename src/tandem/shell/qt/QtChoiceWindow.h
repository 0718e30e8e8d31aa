#pragma once

#include "platform/Desktop.h"
#include "platform/Geometry.h"

#include <QAbstractButton>
#include <QFont>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <memory>

namespace tandem {

// The choice window's content: an opaque view filled with Koala's background colour.
class KoalaChoiceBackground final : public QWidget {
public:
    explicit KoalaChoiceBackground(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A borderless push button that draws itself in Koala's colours: a rounded fill, pink while pressed and
// blue otherwise, under a white title centred by its measured size.
class KoalaChoiceButton final : public QAbstractButton {
public:
    explicit KoalaChoiceButton(const QString& title, QWidget* parent = nullptr);

    // The fill for a pressed or released button.
    static QColor fillFor(bool pressed);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The controller choice window: Koala's dark look on 720 × 380, "TANDEM", the two controllers and the
// webcam. Created once and shown at every pick. Everything runs on the GUI thread (the main queue), and
// `onChoose` and `onWebcam` are called there.
class QtChoiceWindow final : public ChoiceWindow {
public:
    static constexpr QSize contentSize{720, 380};
    static constexpr const char* title = "Tandem · Choose your controller";

    // Needs a QApplication. The window is centred on the primary screen and not yet shown.
    QtChoiceWindow();
    ~QtChoiceWindow() override;
    QtChoiceWindow(const QtChoiceWindow&) = delete;
    QtChoiceWindow& operator=(const QtChoiceWindow&) = delete;

    void show() override;
    void close() override;
    bool isVisible() const override;

    // The actions of the three buttons, as a click calls them.
    void chooseTouch();
    void choosePush();
    void chooseWebcam();

    // The window itself (its content is the KoalaChoiceBackground), for tests and screenshots.
    QWidget* window() const;

    // A frame given from the content's bottom-left corner (y up), as Qt places it from the top-left.
    static QRect qtFrame(const Rect& bottomLeft);

private:
    void choose(ControllerPick pick);

    std::unique_ptr<QWidget> frame;
};

} // namespace tandem
