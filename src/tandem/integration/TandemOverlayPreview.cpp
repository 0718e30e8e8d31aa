#include "tandem/integration/TandemOverlay.h"

#include "tandem/looks/BackdropView.h"
#include "tandem/looks/PanelArt.h"

#include <QImage>
#include <QPainter>

namespace tandem {

Result<void> TandemOverlay::writePreview(const std::filesystem::path& file) {
    const BackdropView card(QSizeF(480, 80));
    QImage image(480, 80, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        card.paint(painter);
        // Laid out from the card's bottom-left corner, as the panels sit on the MPC's screen.
        const PanelPlan banks = bankContent(0), mixer = mixerContent();
        PanelArt::draw(painter, banks, QPointF(10, card.size().height() - 12 - banks.size.height));
        PanelArt::draw(painter, mixer, QPointF(314, card.size().height() - 12 - mixer.size.height));
    }
    if (!image.save(QString::fromStdString(file.string()), "PNG")) {
        return Error{"NSCocoaErrorDomain", 512,
                     "The file “" + file.filename().string() + "” couldn’t be saved."};
    }
    return {};
}

} // namespace tandem
