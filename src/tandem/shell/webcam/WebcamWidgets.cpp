#include "tandem/shell/webcam/WebcamWidgets.h"

#include "tandem/looks/KoalaLook.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace tandem {

namespace {

// The Mac's system yellow, Koala's screen on the layout canvas.
constexpr QColor systemYellow{255, 204, 0};

} // namespace

QRect fromBottomLeft(const QRectF& frame, double parentHeight) {
    return QRectF(frame.x(), parentHeight - frame.y() - frame.height(), frame.width(), frame.height())
        .toRect();
}

// ---- WebcamPictureView

WebcamPictureView::WebcamPictureView(QWidget* parent)
    : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void WebcamPictureView::show(const QImage& frame) {
    shown = frame;
    update();
}

QRectF WebcamPictureView::pictureRect() const {
    if (shown.isNull() || shown.width() <= 0 || shown.height() <= 0) return {};
    const double scale = std::min(width() / double(shown.width()), height() / double(shown.height()));
    const double w = shown.width() * scale;
    const double h = shown.height() * scale;
    return {(width() - w) / 2, (height() - h) / 2, w, h};
}

void WebcamPictureView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (shown.isNull()) return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(pictureRect(), shown);
}

// ---- buttons

WebcamFirstClickButton::WebcamFirstClickButton(const QString& title, QWidget* parent)
    : QPushButton(title, parent) {}

void WebcamFirstClickButton::setTint(std::optional<QColor> tint) {
    if (tint == tinted) return;
    tinted = tint;
    setStyleSheet(
        tint ? QStringLiteral("QPushButton { background-color: %1; color: white; }").arg(tint->name())
             : QString());
}

WebcamHoldButton::WebcamHoldButton(const QString& title, QWidget* parent)
    : QPushButton(title, parent) {}

void WebcamHoldButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && onHold) onHold(true);
    QPushButton::mousePressEvent(event);
}

void WebcamHoldButton::mouseReleaseEvent(QMouseEvent* event) {
    QPushButton::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && onHold) onHold(false);
}

// ---- the sound strip

WebcamMeterView::WebcamMeterView(QWidget* parent)
    : QWidget(parent) {}

void WebcamMeterView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    meter.draw(painter, QRectF(rect()));
}

WebcamSoundStrip::WebcamSoundStrip(QWidget* parent)
    : QWidget(parent) {
    meter = new WebcamMeterView(this);
    driveName = new QLabel(QStringLiteral("DRIVE"), this);
    thresholdName = new QLabel(QStringLiteral("THRESH"), this);
    for (QLabel* name : {driveName, thresholdName})
        name->setFont(KoalaLook::font(13));
    drive = new QSlider(Qt::Horizontal, this);
    drive->setRange(0, 12 * stepsPerDB);
    threshold = new QSlider(Qt::Horizontal, this);
    threshold->setRange(-20 * stepsPerDB, 0);
    driveValue = new QLabel(this);
    thresholdValue = new QLabel(this);
    mpcOut = new QCheckBox(QStringLiteral("MPC3000 OUT"), this);
    limiter = new QCheckBox(QStringLiteral("LIMITER · CEILING −1 dB"), this);
    listen = new QCheckBox(QStringLiteral("LISTEN · hear drive and limiter"), this);
    resize(388, height);
    placeControls();
    showValues();

    for (QSlider* slider : {drive, threshold}) {
        connect(slider, &QSlider::valueChanged, this,
                [this, slider] { controlChanged(!slider->isSliderDown()); });
        connect(slider, &QSlider::sliderReleased, this, [this] { controlChanged(true); });
    }
    for (QCheckBox* box : {mpcOut, limiter, listen})
        connect(box, &QCheckBox::toggled, this, [this] { controlChanged(true); });
}

double WebcamSoundStrip::snap(double dB) {
    return std::round(2 * dB) / 2;
}

QString WebcamSoundStrip::driveText(double dB) {
    return QString::asprintf("+%.1f dB", dB);
}

QString WebcamSoundStrip::thresholdText(double dB) {
    return QString::asprintf("%.1f dB", dB);
}

double WebcamSoundStrip::driveDB() const {
    return drive->value() / double(stepsPerDB);
}

double WebcamSoundStrip::thresholdDB() const {
    return threshold->value() / double(stepsPerDB);
}

void WebcamSoundStrip::setDB(QSlider* slider, double dB) {
    const QSignalBlocker quiet(slider);
    slider->setValue(int(std::lround(dB * stepsPerDB)));
}

void WebcamSoundStrip::showValues() {
    driveValue->setText(driveText(driveDB()));
    thresholdValue->setText(thresholdText(thresholdDB()));
}

void WebcamSoundStrip::show(const WebcamSettings& settings) {
    setDB(drive, settings.drive.value_or(0));
    setDB(threshold, settings.threshold.value_or(0));
    for (auto [box, on] : {std::pair{mpcOut, settings.mpcOut.value_or(true)},
                           std::pair{limiter, settings.limiter.value_or(true)},
                           std::pair{listen, settings.listen.value_or(false)}}) {
        const QSignalBlocker quiet(box);
        box->setChecked(on);
    }
    threshold->setEnabled(limiter->isChecked());
    showValues();
}

void WebcamSoundStrip::controlChanged(bool done) {
    const double driveNow = snap(driveDB());
    const double thresholdNow = snap(thresholdDB());
    // Mid-drag the slider keeps its own position; writing back there would fight the mouse.
    if (!drive->isSliderDown()) setDB(drive, driveNow);
    if (!threshold->isSliderDown()) setDB(threshold, thresholdNow);
    threshold->setEnabled(limiter->isChecked());
    driveValue->setText(driveText(driveNow));
    thresholdValue->setText(thresholdText(thresholdNow));
    if (!onChange) return;
    const bool mpc = mpcOut->isChecked();
    const bool limit = limiter->isChecked();
    const bool hear = listen->isChecked();
    onChange(
        [=](WebcamSettings& settings) {
            settings.drive = driveNow;
            settings.threshold = thresholdNow;
            settings.mpcOut = mpc;
            settings.limiter = limit;
            settings.listen = hear;
        },
        done);
}

void WebcamSoundStrip::resizeEvent(QResizeEvent*) {
    placeControls();
}

void WebcamSoundStrip::placeControls() {
    const double w = width();
    const double h = height;
    meter->setGeometry(fromBottomLeft({0, 108, w, 64}, h));
    for (auto [name, slider, value, y] : {std::tuple{driveName, drive, driveValue, 80.0},
                                          std::tuple{thresholdName, threshold, thresholdValue, 52.0}}) {
        name->setGeometry(fromBottomLeft({0, y, 56, 20}, h));
        slider->setGeometry(fromBottomLeft({58, y, w - 124, 22}, h));
        value->setGeometry(fromBottomLeft({w - 64, y + 2, 64, 18}, h));
    }
    mpcOut->setGeometry(fromBottomLeft({0, 26, 112, 20}, h));
    limiter->setGeometry(fromBottomLeft({114, 26, w - 114, 20}, h));
    listen->setGeometry(fromBottomLeft({0, 2, w, 20}, h));
}

// ---- the layout canvas

WebcamLayoutCanvas::WebcamLayoutCanvas(QWidget* parent)
    : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setMouseTracking(false);
}

Size WebcamLayoutCanvas::cardSize(bool vertical) {
    return vertical ? Size{1026.0 / 1080, 250.0 / 1920} : Size{680.0 / 1920, 200.0 / 1080};
}

QRectF WebcamLayoutCanvas::pictureRect() const {
    const double aspect = vertical ? 9.0 / 16 : 16.0 / 9;
    double w = width();
    double h = w / aspect;
    if (h > height()) {
        h = height();
        w = h * aspect;
    }
    return {(width() - w) / 2, (height() - h) / 2, w, h};
}

std::vector<WebcamLayoutCanvas::Part> WebcamLayoutCanvas::draggable() const {
    if (tutorial) return {Part::card, Part::koala};
    return {Part::card};
}

Rect WebcamLayoutCanvas::fractionsOf(Part part, const WebcamLayout& from) const {
    switch (part) {
    case Part::card: {
        const Size size = cardSize(vertical);
        return {from.card.x, from.card.y, size.width, size.height};
    }
    case Part::camera:
        return from.camera;
    case Part::koala:
        return from.koala;
    }
    return {};
}

QRectF WebcamLayoutCanvas::rectOf(Part part) const {
    const QRectF picture = pictureRect();
    const Rect r = fractionsOf(part, layout);
    // Fractions grow upwards from the picture's bottom edge.
    return {picture.left() + r.x * picture.width(), picture.bottom() - (r.y + r.height) * picture.height(),
            r.width * picture.width(), r.height * picture.height()};
}

void WebcamLayoutCanvas::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Koala's screen first, so the card is drawn over it.
    std::vector<Part> parts = draggable();
    std::reverse(parts.begin(), parts.end());
    for (Part part : parts) {
        const QColor colour = part == Part::card ? KoalaLook::pink : systemYellow;
        const QRectF box = rectOf(part).adjusted(1, 1, -1, -1);
        QColor fill = colour;
        fill.setAlphaF(0.12f);
        painter.fillRect(box, fill);
        QPen pen(colour, 2);
        pen.setDashPattern({3, 2}); // in pen widths: 6 on, 4 off
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(box);
        painter.setPen(Qt::white);
        painter.setFont(KoalaLook::font(15));
        // Just inside the top edge, as the label's baseline sits 22 points below it.
        painter.drawText(QPointF(box.left() + 8, box.top() + 22),
                         part == Part::card ? "CARD" : "KOALA SCREEN");
        if (part == Part::koala) painter.fillRect(QRectF(box.right() - 12, box.top(), 12, 12), colour);
    }
}

void WebcamLayoutCanvas::mousePressEvent(QMouseEvent* event) {
    const QPointF at = event->position();
    for (Part part : draggable()) {
        const QRectF box = rectOf(part);
        if (part == Part::koala && std::abs(at.x() - box.right()) <= handleReach &&
            std::abs(at.y() - box.top()) <= handleReach) {
            drag = Drag{part, true, at, layout};
            return;
        }
        if (box.contains(at)) {
            drag = Drag{part, false, at, layout};
            return;
        }
    }
}

void WebcamLayoutCanvas::mouseMoveEvent(QMouseEvent* event) {
    if (!drag) return;
    const QRectF picture = pictureRect();
    if (picture.width() <= 0 || picture.height() <= 0) return;
    const double dx = (event->position().x() - drag->start.x()) / picture.width();
    // Up the screen is up the picture.
    const double dy = -(event->position().y() - drag->start.y()) / picture.height();
    const Rect start = fractionsOf(drag->part, drag->from);
    WebcamLayout next = drag->from;
    if (drag->resize) {
        Rect sized = start;
        sized.width = std::max(std::min(start.width + dx, 1 - start.x), smallest);
        sized.height = std::max(std::min(start.height + dy, 1 - start.y), smallest);
        next.koala = sized;
    } else {
        const double x = std::clamp(start.x + dx, 0.0, std::max(0.0, 1 - start.width));
        const double y = std::clamp(start.y + dy, 0.0, std::max(0.0, 1 - start.height));
        switch (drag->part) {
        case Part::card:
            next.card = {x, y};
            break;
        case Part::camera:
            next.camera.x = x;
            next.camera.y = y;
            break;
        case Part::koala:
            next.koala.x = x;
            next.koala.y = y;
            break;
        }
    }
    layout = next;
    update();
    if (onChange) onChange(layout, false);
}

void WebcamLayoutCanvas::mouseReleaseEvent(QMouseEvent*) {
    if (!drag) return;
    drag.reset();
    if (onChange) onChange(layout, true);
}

} // namespace tandem
