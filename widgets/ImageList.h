// A list of icons of one fixed size, shared by the group bar's item lists and the popup menus.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

#include <vector>

namespace lanquill::widgets {

class ImageList {
public:
    // Throws std::invalid_argument for an empty or absurdly large size.
    explicit ImageList(QSize size);

    QSize size() const { return size_; }

    // Appends the picture, scaled (aspect kept, centred) to size() when it has another size, and
    // returns its index. A null pixmap is refused with std::invalid_argument: an image list with a
    // hole would shift every later index the callers rely on.
    int add(const QPixmap& pixmap);
    int count() const { return static_cast<int>(pixmaps_.size()); }
    QPixmap pixmap(int index) const; // null pixmap when out of range
    QIcon icon(int index) const;     // null icon when out of range

private:
    QSize size_;
    std::vector<QPixmap> pixmaps_;
};

} // namespace lanquill::widgets
