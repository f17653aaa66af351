#include "inbox/Message.h"

#include "protocol/SessionProtocol.h"

namespace lanquill::inbox {

namespace session = protocol::session;

QString kindName(Kind kind) {
    const std::string_view word =
        kind == Kind::Workgroup ? session::WorkgroupKind : session::Direct;
    return QString::fromLatin1(word.data(), static_cast<qsizetype>(word.size()));
}

bool kindFromName(const QString& name, Kind& kind) {
    if (name == kindName(Kind::Direct))
        kind = Kind::Direct;
    else if (name == kindName(Kind::Workgroup))
        kind = Kind::Workgroup;
    else
        return false;
    return true;
}

} // namespace lanquill::inbox
