#include "tandem/shell/qt/KoalaPushPreviewView.h"

#include "tandem/push/art/KoalaScreenArt.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

namespace tandem {

KoalaPushPreviewView::KoalaPushPreviewView(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint) {
    resize(int(KoalaScreenArt::width), int(KoalaScreenArt::height));
    // Every pixel is painted on each update.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void KoalaPushPreviewView::setModel(const KoalaView& view) {
    shown = view;
    update();
}

void KoalaPushPreviewView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(width() / KoalaScreenArt::width, height() / KoalaScreenArt::height);
    KoalaScreenArt::draw(painter, shown);
}

QtPushPreview::QtPushPreview()
    : window(std::make_unique<KoalaPushPreviewView>()) {}

QtPushPreview::~QtPushPreview() = default;

void QtPushPreview::open(const std::string& title) {
    window->setWindowTitle(QString::fromStdString(title));
    if (!window->isVisible()) {
        window->resize(int(KoalaScreenArt::width), int(KoalaScreenArt::height));
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = window->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            window->move(frame.topLeft());
        }
    }
    window->show();
    window->raise();
}

void QtPushPreview::show(const KoalaView& view) {
    window->setModel(view);
}

void QtPushPreview::close() {
    window->hide();
}

} // namespace tandem
