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
    PanelWindow(PanelPlan plan, std::function<void(int)> onTap)
        : QWidget(nullptr, floatingWindowFlags())
        , plan(std::move(plan))
        , onTap(std::move(onTap)) {
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_X11DoNotAcceptFocus);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_QuitOnClose, false); // closing the overlay never ends the program
        setFocusPolicy(Qt::NoFocus);
        setFixedSize(static_cast<int>(std::ceil(this->plan.size.width)),
                     static_cast<int>(std::ceil(this->plan.size.height)));
    }

    PanelPlan plan;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        PanelArt::draw(painter, plan);
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) return;
        pressed = PanelArt::buttonAt(plan, event->position());
    }

    // As a push button does: the tap counts only when released over the button that was pressed.
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) return;
        std::optional<int> tag = std::exchange(pressed, std::nullopt);
        if (tag && PanelArt::buttonAt(plan, event->position()) == tag && onTap) onTap(*tag);
    }

private:
    std::function<void(int)> onTap;
    std::optional<int> pressed;
};

QtPanel::QtPanel(PanelPlan plan, std::function<void(int)> onTap)
    : panel(std::make_unique<PanelWindow>(std::move(plan), std::move(onTap))) {}

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
    panel->move(topLeftFor(origin, panel->plan.size.height, screen));
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
    for (auto& existing : panel->plan.buttons) {
        if (existing.tag == button.tag) existing = button;
    }
    panel->update();
}

void QtPanel::close() {
    closed = true;
    panel->close();
}

const PanelPlan& QtPanel::plan() const {
    return panel->plan;
}

QWidget* QtPanel::window() const {
    return panel.get();
}

std::unique_ptr<Panel> QtPanels::makePanel(const PanelPlan& plan, std::function<void(int)> onTap) {
    return std::make_unique<QtPanel>(plan, std::move(onTap));
}

} // namespace tandem
