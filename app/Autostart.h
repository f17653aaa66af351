// The session's autostart entry for the program (~/.config/autostart/lanquill.desktop): with it
// the desktop starts Lanquill at log-in, in the program directory it runs in now.
#pragma once

#include <QString>

namespace lanquill::app {

QString autostartPath();
bool autostartEnabled();
// The entry's text: `program` started in `directory`. Throws std::invalid_argument for a path a
// desktop entry cannot carry (a line break or a control character).
QString autostartEntry(const QString& program, const QString& directory);
// Writes the entry (atomically) or removes it; throws std::runtime_error when that fails.
void setAutostart(bool enabled, const QString& program, const QString& directory);

} // namespace lanquill::app
