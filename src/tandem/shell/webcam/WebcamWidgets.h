#pragma once

#include "platform/Geometry.h"
#include "tandem/webcam/WebcamDBMeter.h"
#include "tandem/webcam/WebcamSettings.h"

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QWidget>

#include <functional>
#include <optional>

namespace tandem {

// A frame given from a parent's bottom-left corner (y up), as Qt places it from the top-left.
QRect fromBottomLeft(const QRectF& frame, double parentHeight);

// The composed picture, shown whole (aspect-fit) on black.
class WebcamPictureView final : public QWidget {
public:
    explicit WebcamPictureView(QWidget* parent = nullptr);
    void show(const QImage& frame);
    const QImage& frame() const { return shown; }
    // Where the picture lands in the view.
    QRectF pictureRect() const;
    using QWidget::show;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage shown;
};

// A button that can carry a tint. Qt delivers the first click to a window that is not active, so the
// floating preview's ARM works while Koala is in front without more.
class WebcamFirstClickButton final : public QPushButton {
public:
    explicit WebcamFirstClickButton(const QString& title, QWidget* parent = nullptr);
    void setTint(std::optional<QColor> tint);
    std::optional<QColor> tint() const { return tinted; }

private:
    std::optional<QColor> tinted;
};

// Calls `onHold(true)` when pressed and `onHold(false)` when the mouse is let go, wherever it is.
class WebcamHoldButton final : public QPushButton {
public:
    explicit WebcamHoldButton(const QString& title, QWidget* parent = nullptr);
    std::function<void(bool)> onHold;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// The level meters of one strip.
class WebcamMeterView final : public QWidget {
public:
    explicit WebcamMeterView(QWidget* parent = nullptr);
    WebcamDBMeter meter;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The sound controls: meter, DRIVE and THRESH sliders, MPC3000 OUT, LIMITER and LISTEN.
class WebcamSoundStrip final : public QWidget {
public:
    static constexpr int height = 172;
    // Slider steps per dB; the strip snaps to half a dB anyway.
    static constexpr int stepsPerDB = 100;

    explicit WebcamSoundStrip(QWidget* parent = nullptr);

    void show(const WebcamSettings& settings);
    using QWidget::show;

    // A change that sets the strip's five values, and whether it is final (not mid-drag).
    std::function<void(std::function<void(WebcamSettings&)>, bool)> onChange;

    WebcamMeterView* meter;
    QSlider* drive;
    QSlider* threshold;
    QLabel* driveValue;
    QLabel* thresholdValue;
    QCheckBox* mpcOut;
    QCheckBox* limiter;
    QCheckBox* listen;

    double driveDB() const;
    double thresholdDB() const;
    // Half a dB: round(2v) / 2.
    static double snap(double dB);
    static QString driveText(double dB);
    static QString thresholdText(double dB);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeControls();
    void controlChanged(bool done);
    void setDB(QSlider* slider, double dB);
    void showValues();

    QLabel* driveName;
    QLabel* thresholdName;
};

// The layout editor over the preview: the draggable parts outlined, moved and (Koala's screen) sized
// with the mouse. Layout rectangles are fractions with the origin at the bottom left.
class WebcamLayoutCanvas final : public QWidget {
public:
    enum class Part { card, camera, koala };
    static constexpr double handleReach = 16; // points around Koala's top-right corner
    static constexpr double smallest = 0.1;

    explicit WebcamLayoutCanvas(QWidget* parent = nullptr);

    bool vertical = false;
    bool tutorial = false;
    WebcamLayout layout;
    std::function<void(const WebcamLayout&, bool)> onChange;

    // The largest rectangle of the output's shape centred in the canvas.
    QRectF pictureRect() const;
    // A part's rectangle in the view (y down).
    QRectF rectOf(Part part) const;
    static Size cardSize(bool vertical);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::vector<Part> draggable() const;
    Rect fractionsOf(Part part, const WebcamLayout& from) const;

    struct Drag {
        Part part;
        bool resize;
        QPointF start;
        WebcamLayout from;
    };
    std::optional<Drag> drag;
};

} // namespace tandem
