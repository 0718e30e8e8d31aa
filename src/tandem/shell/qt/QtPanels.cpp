#include "tandem/shell/qt/QtPanels.h"

#include "tandem/looks/PanelArt.h"
#include "tandem/shell/qt/FloatingWindow.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QWidget>

#include <cmath>
#include <optional>

namespace tandem {

// The window behind a QtPanel: paints the panel and turns a press and release on one button into a tap.
class PanelWindow final : public QWidget {
public:
    PanelWindow(PanelSpec spec, std::function<void(int)> onTap)
        : QWidget(nullptr, floatingWindowFlags())
        , spec(std::move(spec))
        , onTap(std::move(onTap)) {
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_X11DoNotAcceptFocus);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_QuitOnClose, false); // closing the overlay never ends the program
        setFocusPolicy(Qt::NoFocus);
        setFixedSize(static_cast<int>(std::ceil(this->spec.size.width)),
                     static_cast<int>(std::ceil(this->spec.size.height)));
    }

    PanelSpec spec;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        PanelArt::draw(painter, spec);
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) return;
        pressed = PanelArt::buttonAt(spec, event->position());
    }

    // As a push button does: the tap counts only when released over the button that was pressed.
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) return;
        std::optional<int> tag = std::exchange(pressed, std::nullopt);
        if (tag && PanelArt::buttonAt(spec, event->position()) == tag && onTap) onTap(*tag);
    }

private:
    std::function<void(int)> onTap;
    std::optional<int> pressed;
};

QtPanel::QtPanel(PanelSpec spec, std::function<void(int)> onTap)
    : panel(std::make_unique<PanelWindow>(std::move(spec), std::move(onTap))) {}

QtPanel::~QtPanel() = default;

QPoint QtPanel::topLeftFor(Point origin, double height, const QRect& primaryScreen) {
    // The y-up origin is the primary screen's bottom edge; QRect::bottom() is one pixel short of it.
    double bottom = primaryScreen.y() + primaryScreen.height();
    return {static_cast<int>(std::lround(primaryScreen.x() + origin.x)),
            static_cast<int>(std::lround(bottom - origin.y - height))};
}

void QtPanel::setOrigin(Point origin) {
    QScreen* primary = QGuiApplication::primaryScreen();
    QRect screen = primary ? primary->geometry() : QRect();
    panel->move(topLeftFor(origin, panel->spec.size.height, screen));
}

void QtPanel::orderFront() {
    if (closed) return;
    panel->show();
    panel->raise();
}

void QtPanel::orderOut() {
    panel->hide();
}

bool QtPanel::isVisible() const {
    return panel->isVisible();
}

void QtPanel::setButton(const PanelButton& button) {
    for (auto& existing : panel->spec.buttons) {
        if (existing.tag == button.tag) existing = button;
    }
    panel->update();
}

void QtPanel::close() {
    closed = true;
    panel->close();
}

const PanelSpec& QtPanel::spec() const {
    return panel->spec;
}

QWidget* QtPanel::window() const {
    return panel.get();
}

std::unique_ptr<Panel> QtPanels::makePanel(const PanelSpec& spec, std::function<void(int)> onTap) {
    return std::make_unique<QtPanel>(spec, std::move(onTap));
}

} // namespace tandem
