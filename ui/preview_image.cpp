#include "ui/preview_image.h"

#include <QPainter>
#include <cstddef>

#include "album/picture.h"

namespace zenfo::ui {

PreviewImage::PreviewImage(QWidget* parent) : QWidget(parent) {}

void PreviewImage::SetPhoto(const LoadedPhoto* photo) {
    photo_ = photo;
    shownRaster_ = nullptr;
    picture_ = QImage();
}

QImage PreviewImage::Picture() {
    const DecodedRaster* raster = photo_ != nullptr ? photo_->DecodedIfReady() : nullptr;
    if (raster == nullptr || raster->Width <= 0 || raster->Height <= 0 || width() <= 0 ||
        height() <= 0) {
        shownRaster_ = nullptr;
        picture_ = QImage();
        return picture_;
    }
    // A full-size photo is scaled once per photo, not at every painting.
    if (raster != shownRaster_ || picture_.size() != size()) {
        picture_ = StretchedPicture(*raster, size());
        shownRaster_ = raster;
    }
    return picture_;
}

void PreviewImage::paintEvent(QPaintEvent*) {
    const QImage picture = Picture();
    if (picture.isNull()) return;
    QPainter painter(this);
    painter.drawImage(rect(), picture);
}

QImage StretchedPicture(const DecodedRaster& raster, QSize size) {
    const auto pixels =
        static_cast<std::size_t>(raster.Width) * static_cast<std::size_t>(raster.Height);
    if (raster.Pixels.size() < (raster.Indexed ? pixels : pixels * 3)) return QImage();
    // The image only borrows the raster's pixels; scaling makes the copy that is kept.
    if (raster.Indexed) {
        QImage image(raster.Pixels.data(), raster.Width, raster.Height, raster.Width,
                     QImage::Format_Indexed8);
        QList<QRgb> colours;
        colours.reserve(256);
        for (const auto& rgb : raster.ColourMap) colours.append(qRgb(rgb[0], rgb[1], rgb[2]));
        // Indices past the end of the map draw black rather than reading outside it.
        while (colours.size() < 256) colours.append(qRgb(0, 0, 0));
        image.setColorTable(colours);
        return image.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation)
            .convertToFormat(QImage::Format_RGB32);
    }
    const QImage image(raster.Pixels.data(), raster.Width, raster.Height, raster.Width * 3,
                       QImage::Format_RGB888);
    return image.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation)
        .convertToFormat(QImage::Format_RGB32);
}

}  // namespace zenfo::ui
