// What assistive technology (a screen reader, through AT-SPI) sees of the group bar, which paints
// its items by hand: the bar as a list of page tabs, each page button as a tab that can be
// pressed, the active page's list, between its button and the next, as a list whose items carry
// their captions and can be activated.
#pragma once

namespace lanquill::widgets {

class TfcOutlookList;
class TfcOutlookListItem;

// Installs the interfaces for the bar, its page buttons and lists; once per process, before the
// first of them is asked for one. The widgets call it themselves.
void installGroupBarAccessibility();

// Tells assistive technology that `item` of `list` is now the one pointed out (selected and, with
// the list focused, focused).
void reportSelectedItem(TfcOutlookList* list, const TfcOutlookListItem* item);

// An item is going away: drops the interface handed out for it, if any.
void forgetAccessibleItem(const TfcOutlookListItem* item);

} // namespace lanquill::widgets
