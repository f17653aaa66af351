// One message as the history keeps it: received from lanquilld or sent by this program.
#pragma once

#include <QDateTime>
#include <QString>

namespace lanquill::inbox {

enum class Direction { Received = 0, Sent = 1 };
enum class Kind { Direct, Workgroup };

struct Message {
    QString id; // lanquilld's id for a received message, our own for a sent one
    Direction direction = Direction::Received;
    Kind kind = Kind::Direct;
    QString peer;    // the conversation it is filed under (a sent broadcast: the workgroup)
    QString sender;  // a received message: the name its sender gave, which proves nothing
    QString address; // the other computer's dotted address, when known
    QString to;      // the name the message was addressed to
    QDateTime time;  // UTC
    QString text;
    bool delivered = true; // a sent message the receiver accepted (received ones: always)
    bool unread = false;
    // A received message that came in a datagram: its source address is whatever the sender
    // wrote into the packet, so the address vouches for nobody either.
    bool datagram = false;
};

QString kindName(Kind kind); // "direct", "workgroup": the words of the session socket
bool kindFromName(const QString& name, Kind& kind);

} // namespace lanquill::inbox
