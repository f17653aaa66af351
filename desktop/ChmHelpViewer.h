#pragma once

#include "desktop/Desktop.h"

#include <QProcess>
#include <QString>

#include <memory>
#include <vector>

namespace lanquill::desktop {

// Compiled HTML help (.chm) files, each shown by lanquill-help (found beside this program) in a
// process of its own: the file is parsed there, so a damaged one can end only its viewer.
class ChmHelpViewer : public HelpViewer {
public:
    ChmHelpViewer();
    ~ChmHelpViewer() override;
    ChmHelpViewer(const ChmHelpViewer&) = delete;
    ChmHelpViewer& operator=(const ChmHelpViewer&) = delete;

    // Closes the viewers whose window carries `title`, and those still starting (whose window,
    // about to show, is a help window too); waits for each to end.
    bool closeWindowTitled(const QString& title) override;
    // False when the file cannot be read or the viewer cannot be started.
    bool open(const std::string& path) override;

private:
    struct Viewer {
        std::unique_ptr<QProcess> process;
        QString title; // empty until the viewer has said it
    };
    std::vector<Viewer> viewers_;
    QString program_;
};

} // namespace lanquill::desktop
