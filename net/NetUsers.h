// TNetUsers: the workgroups of the network neighbourhood, and the computers of one workgroup.
#pragma once

#include "platform/Platform.h"

#include <QObject>
#include <QString>

#include <string>
#include <vector>

namespace lanquill::net {

class TNetUsers : public QObject {
    Q_OBJECT

public:
    // Destroyed with `owner`, like every other part of the dialog that uses it.
    TNetUsers(platform::NetworkEnumerator& network, platform::SystemInfo& system,
              QObject* owner = nullptr);

    // The workgroup whose computers are listed. Setting it to its current value changes nothing.
    const std::string& Server() const { return server_; }
    void setServer(const std::string& server);

    // The result of the last enumeration, ascending under a locale-aware comparison that
    // ignores case; every name once, ignoring case.
    const std::vector<std::string>& Names() const { return names_; }
    // Binary search with the same comparison.
    bool containsName(const std::string& name) const;

    // Replaces Names with the workgroups of every provider. False when there is no provider.
    // Throws platform::SystemError on a failed open, read or close, after closing what is open;
    // Names then keeps what was added before.
    bool EnumGroups();
    // Replaces Names with the computers of workgroup Server. False when the workgroup cannot be
    // opened or a read fails (Names keeps what came before the failure); throws
    // platform::SystemError when a close fails.
    bool EnumComputers();
    // With Server set: EnumComputers. Otherwise finds the workgroup holding this computer,
    // leaving it in Server and its computers in Names; false when none holds it.
    bool Execute();

private:
    // Adds `name` at its place in the order, unless it is there already (ignoring case).
    void addName(const std::string& name);
    void clearNames();

    platform::NetworkEnumerator& network_;
    platform::SystemInfo& system_;
    std::string server_;
    std::vector<std::string> names_;
    std::vector<QString> keys_; // names_ case-folded, for the comparison
};

// The text of an enumeration failure with WNet code `code`, as the top-level report shows it.
std::string netEnumErrorText(std::uint32_t code);

} // namespace lanquill::net
