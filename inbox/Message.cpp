#include "inbox/Message.h"

namespace lanquill::inbox {

QString kindName(Kind kind) {
    return kind == Kind::Workgroup ? QStringLiteral("workgroup") : QStringLiteral("direct");
}

bool kindFromName(const QString& name, Kind& kind) {
    if (name == QLatin1String("direct"))
        kind = Kind::Direct;
    else if (name == QLatin1String("workgroup"))
        kind = Kind::Workgroup;
    else
        return false;
    return true;
}

} // namespace lanquill::inbox
