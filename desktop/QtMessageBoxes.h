#pragma once

#include "desktop/Desktop.h"

namespace lanquill::desktop {

// A plain box with the text and one OK button, titled with the program's name.
class QtMessageBoxes : public MessageBoxes {
public:
    void show(QWidget* parent, const QString& text) override;
};

} // namespace lanquill::desktop
