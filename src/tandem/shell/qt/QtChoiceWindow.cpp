#include "tandem/shell/qt/QtChoiceWindow.h"

#include "tandem/looks/KoalaLook.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

#include <cmath>

namespace tandem {

namespace {

constexpr double buttonInset = 1;
constexpr double buttonRadius = 12;
constexpr double defaultButtonFont = 25;

// One text of the window: its frame from the content's bottom-left corner, its size and colour.
struct LabelPlan {
    const char* text;
    double size;
    QColor colour;
    Rect frame;
};

// What the window holds, as laid out from its bottom-left corner.
const LabelPlan labels[] = {
    {"TANDEM", 38, KoalaLook::pink, {35, 286, 650, 60}},
    {"Choose your controller", 21, KoalaLook::foreground, {35, 242, 650, 32}},
    {"Touchscreen · 4 pad banks · Q-Links", 16, KoalaLook::muted, {35, 100, 320, 26}},
    {"64 pads · Koala screens · encoders & strip", 16, KoalaLook::muted, {375, 100, 315, 26}},
    {"You can change controllers or open Webcam from the Tandem menu.",
     14,
     KoalaLook::muted,
     {35, 16, 650, 24}},
};

struct ButtonPlan {
    const char* text;
    double size;
    Rect frame;
    void (QtChoiceWindow::*action)();
};

const ButtonPlan buttons[] = {
    {"MPC TOUCH", 25, {35, 136, 310, 75}, &QtChoiceWindow::chooseTouch},
    {"PUSH 2", 25, {375, 136, 310, 75}, &QtChoiceWindow::choosePush},
    {"WEBCAM SETUP", 18, {35, 48, 650, 42}, &QtChoiceWindow::chooseWebcam},
};

QPalette withColour(QPalette palette, QPalette::ColorRole role, const QColor& colour) {
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, role, colour);
    return palette;
}

} // namespace

KoalaChoiceBackground::KoalaChoiceBackground(QWidget* parent)
    : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void KoalaChoiceBackground::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), KoalaLook::background);
}

KoalaChoiceButton::KoalaChoiceButton(const QString& title, QWidget* parent)
    : QAbstractButton(parent) {
    setText(title);
    setFont(KoalaLook::font(defaultButtonFont));
    setCursor(Qt::PointingHandCursor);
}

QColor KoalaChoiceButton::fillFor(bool pressed) {
    return pressed ? KoalaLook::pink : KoalaLook::blue;
}

void KoalaChoiceButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(buttonInset, buttonInset, -buttonInset, -buttonInset);
    QPainterPath fill;
    fill.addRoundedRect(bounds, buttonRadius, buttonRadius);
    painter.fillPath(fill, fillFor(isDown()));

    // Placed by its measured size around the centre, as the title's own box rather than the font's
    // alignment rules would put it.
    const QFontMetricsF metrics(font());
    const QSizeF size(metrics.horizontalAdvance(text()), metrics.height());
    const QPointF centre = QRectF(rect()).center();
    const QRectF box(centre - QPointF(size.width() / 2, size.height() / 2), size);
    painter.setFont(font());
    painter.setPen(KoalaLook::foreground);
    painter.drawText(QPointF(box.left(), box.top() + metrics.ascent()), text());
}

QtChoiceWindow::QtChoiceWindow()
    : frame(std::make_unique<QWidget>(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                                                   Qt::WindowCloseButtonHint)) {
    frame->setWindowTitle(QString::fromUtf8(title));
    frame->setFixedSize(contentSize);
    frame->setAutoFillBackground(true);
    frame->setPalette(withColour(frame->palette(), QPalette::Window, KoalaLook::background));
    // Closing it hides it for the next pick; Tandem goes on without any window.
    frame->setAttribute(Qt::WA_QuitOnClose, false);
    frame->setAttribute(Qt::WA_DeleteOnClose, false);

    auto* content = new KoalaChoiceBackground(frame.get());
    content->setGeometry(QRect(QPoint(0, 0), contentSize));

    for (const LabelPlan& plan : labels) {
        auto* label = new QLabel(QString::fromUtf8(plan.text), content);
        label->setFont(KoalaLook::font(plan.size));
        label->setPalette(withColour(label->palette(), QPalette::WindowText, plan.colour));
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setGeometry(qtFrame(plan.frame));
    }
    for (const ButtonPlan& plan : buttons) {
        auto* button = new KoalaChoiceButton(QString::fromUtf8(plan.text), content);
        button->setFont(KoalaLook::font(plan.size));
        button->setGeometry(qtFrame(plan.frame));
        QObject::connect(button, &QAbstractButton::clicked, button,
                         [this, action = plan.action] { (this->*action)(); });
    }

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        frame->move(available.center() - QPoint(contentSize.width() / 2, contentSize.height() / 2));
    }
}

QtChoiceWindow::~QtChoiceWindow() = default;

QRect QtChoiceWindow::qtFrame(const Rect& bottomLeft) {
    const double top = contentSize.height() - bottomLeft.y - bottomLeft.height;
    return {static_cast<int>(std::lround(bottomLeft.x)), static_cast<int>(std::lround(top)),
            static_cast<int>(std::lround(bottomLeft.width)),
            static_cast<int>(std::lround(bottomLeft.height))};
}

void QtChoiceWindow::show() {
    frame->show();
    frame->raise();
    frame->activateWindow();
}

void QtChoiceWindow::close() {
    frame->close();
}

bool QtChoiceWindow::isVisible() const {
    return frame->isVisible();
}

void QtChoiceWindow::chooseTouch() {
    choose(ControllerPick::mpcTouch);
}

void QtChoiceWindow::choosePush() {
    choose(ControllerPick::push2);
}

void QtChoiceWindow::choose(ControllerPick pick) {
    frame->close();
    // A copy: the callback may wire the window anew while it runs.
    if (auto callback = onChoose) callback(pick);
}

void QtChoiceWindow::chooseWebcam() {
    if (auto callback = onWebcam) callback();
}

QWidget* QtChoiceWindow::window() const {
    return frame.get();
}

} // namespace tandem
