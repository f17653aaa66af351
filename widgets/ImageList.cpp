#include "widgets/ImageList.h"

#include <QPainter>

#include <stdexcept>

namespace lanquill::widgets {

namespace {
// Far beyond any icon; guards against sizes that would allocate gigabytes per image.
constexpr int kMaxImageSide = 1024;
} // namespace

ImageList::ImageList(QSize size) : size_(size) {
    if (size.width() <= 0 || size.height() <= 0 || size.width() > kMaxImageSide ||
        size.height() > kMaxImageSide) {
        throw std::invalid_argument("ImageList: image size must be between 1 and 1024 pixels");
    }
}

int ImageList::add(const QPixmap& pixmap) {
    if (pixmap.isNull()) {
        throw std::invalid_argument("ImageList: cannot add a null pixmap");
    }
    if (pixmap.size() == size_) {
        pixmaps_.push_back(pixmap);
    } else {
        // Every entry must have exactly size(): the lists lay items out from that size alone.
        QPixmap fitted(size_);
        fitted.fill(Qt::transparent);
        const QPixmap scaled = pixmap.scaled(size_, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QPainter painter(&fitted);
        painter.drawPixmap((size_.width() - scaled.width()) / 2,
                           (size_.height() - scaled.height()) / 2, scaled);
        painter.end();
        pixmaps_.push_back(fitted);
    }
    return count() - 1;
}

QPixmap ImageList::pixmap(int index) const {
    if (index < 0 || index >= count()) {
        return {};
    }
    return pixmaps_[static_cast<std::size_t>(index)];
}

QIcon ImageList::icon(int index) const {
    const QPixmap picture = pixmap(index);
    return picture.isNull() ? QIcon() : QIcon(picture);
}

} // namespace lanquill::widgets
