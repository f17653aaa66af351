#pragma once

#include "platform/Platform.h"

namespace lanquill::platform {

// A plain box with the text and one OK button, titled with the program's name.
class QtMessageBoxes : public MessageBoxes {
public:
    void show(QWidget* parent, const QString& text) override;
};

} // namespace lanquill::platform
