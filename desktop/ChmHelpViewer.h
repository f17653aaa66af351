#pragma once

#include "desktop/Desktop.h"

namespace lanquill::desktop {

// The program's own viewer for compiled HTML help (.chm) files: one top-level window per open
// file, titled with the help file's title.
class ChmHelpViewer : public HelpViewer {
public:
    bool closeWindowTitled(const QString& title) override;
    bool open(const std::string& path) override;
};

} // namespace lanquill::desktop
