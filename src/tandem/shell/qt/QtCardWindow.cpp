#include "tandem/shell/qt/QtCardWindow.h"

#include "tandem/looks/TandemCardArt.h"
#include "tandem/shell/qt/FloatingWindow.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QWidget>

#include <cmath>

namespace tandem {

// The window behind a QtCardWindow: paints the card over its whole extent.
class CardWidget final : public QWidget {
public:
    explicit CardWidget(std::string status)
        : QWidget(nullptr, floatingWindowFlags())
        , status(std::move(status)) {
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_X11DoNotAcceptFocus);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_QuitOnClose, false);
        setFocusPolicy(Qt::NoFocus);
    }

    std::string status;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        TandemCardArt::draw(painter, QRectF(rect()), status);
    }
};

QtCardWindow::QtCardWindow(const CardWindowPlan& plan)
    : card(std::make_unique<CardWidget>(plan.status)) {
    QScreen* primary = QGuiApplication::primaryScreen();
    card->setGeometry(qtGeometry(plan.frame, primary ? primary->geometry() : QRect()));
    card->show();
    card->raise();
}

QtCardWindow::~QtCardWindow() = default;

QRect QtCardWindow::qtGeometry(const Rect& global, const QRect& primaryScreen) {
    // The y-up origin is the primary screen's bottom edge; QRect::bottom() is one pixel short of it.
    const double bottom = primaryScreen.y() + primaryScreen.height();
    const QPoint topLeft(static_cast<int>(std::lround(primaryScreen.x() + global.x)),
                         static_cast<int>(std::lround(bottom - (global.y + global.height))));
    return {topLeft,
            QSize(static_cast<int>(std::lround(global.width)), static_cast<int>(std::lround(global.height)))};
}

void QtCardWindow::setStatus(const std::string& status) {
    card->status = status;
    // Asked for even when the text is the same: the status line redraws every card at every change.
    card->update();
}

void QtCardWindow::close() {
    card->hide();
    card->close();
}

const std::string& QtCardWindow::status() const {
    return card->status;
}

QWidget* QtCardWindow::window() const {
    return card.get();
}

} // namespace tandem
