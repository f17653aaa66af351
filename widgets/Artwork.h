// Lanquill's pictures, drawn at run time so they stay sharp at any size and need no files.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace lanquill::widgets {

QIcon programIcon();              // window and tray icon: a quill over a speech bubble
QPixmap logoPixmap();             // 32 x 32, the bottom strip's logo
QPixmap computerPixmap(int size); // a computer item of the group bar
QPixmap groupPixmap(int size);    // the group-message item: three computers
QPixmap onlinePixmap(int size);   // status button: the computer answers
QPixmap offlinePixmap(int size);  // status button: it does not
QPixmap refreshPixmap(int size);

// The popup menus' pictures, 0 to 6: find, delete group, add group, details, delete member,
// exit, open window.
QPixmap menuPixmap(int index, int size);

} // namespace lanquill::widgets
