// One entry of a group bar list: icon and caption. A light object painted by its list; it is
// created by TfcOutlookList::addItem and lives until destroy() or the end of its list.
#pragma once

#include <QMetaType>
#include <QString>
#include <Qt>

namespace lanquill::widgets {

class TfcOutlookList;

// Whether the computer an item stands for answered its last presence check; Unknown shows no
// mark (never checked, or no address to check).
enum class Presence { Unknown, Online, Offline };

class TfcOutlookListItem {
public:
    // Largest glyph offset or separation accepted, in pixels.
    static constexpr int kMaxOffset = 1024;

    TfcOutlookListItem(const TfcOutlookListItem&) = delete;
    TfcOutlookListItem& operator=(const TfcOutlookListItem&) = delete;

    QString text() const { return text_; }
    void setText(const QString& text);
    int imageIndex() const { return imageIndex_; } // -1 or out of range: no icon drawn
    void setImageIndex(int index);
    int glyphOffset() const { return glyphOffset_; } // pixels from the item's left edge to the icon
    void setGlyphOffset(int pixels);                 // std::out_of_range outside 0..kMaxOffset
    int separation() const { return separation_; }   // pixels between the icon and the text
    void setSeparation(int pixels);                  // std::out_of_range outside 0..kMaxOffset
    Qt::Alignment textAlignment() const { return textAlignment_; }
    void setTextAlignment(Qt::Alignment alignment); // its horizontal part is used
    Presence presence() const { return presence_; }
    void setPresence(Presence presence); // a mark at the icon's lower right corner

    int index() const;
    bool isHot() const;
    bool isPressed() const;
    TfcOutlookList* list() const { return list_; }

    // Removes the item from its list and deletes it; the items after it move up one place.
    // The item must not be used afterwards.
    void destroy();

private:
    friend class TfcOutlookList;
    explicit TfcOutlookListItem(TfcOutlookList* list) : list_(list) {}
    ~TfcOutlookListItem();

    TfcOutlookList* list_;
    QString text_;
    int imageIndex_ = -1;
    int glyphOffset_ = 0;
    int separation_ = 10;
    Qt::Alignment textAlignment_ = Qt::AlignHCenter;
    Presence presence_ = Presence::Unknown;
};

} // namespace lanquill::widgets

// Carried by TfcOutlookList::itemClick, also through queued connections and signal spies.
Q_DECLARE_METATYPE(lanquill::widgets::TfcOutlookListItem*)
