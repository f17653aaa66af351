// The message history: every received and sent message in one SQLite database, keyed by the
// message's id so that a message lanquilld delivers twice is kept once.
#pragma once

#include "inbox/Message.h"

#include <QString>

#include <stdexcept>
#include <vector>

namespace lanquill::inbox {

class HistoryError : public std::runtime_error {
public:
    explicit HistoryError(const std::string& what, QString reason = {})
        : std::runtime_error(what),
          reason_(reason.isEmpty() ? QString::fromStdString(what) : std::move(reason)) {}
    // The database's own words for what went wrong (the whole text when it gave none).
    const QString& reason() const { return reason_; }

private:
    QString reason_;
};

// What opening found.
struct OpenOutcome {
    enum class Kind { Opened, Created, KeptAside } kind = Kind::Opened;
    QString keptAsidePath; // KeptAside: where the unusable file now lies
    QString reason;        // KeptAside: what was wrong with it
};

struct Conversation {
    QString peer;
    QDateTime last;
    int messages = 0;
    int unread = 0;
};

class History {
public:
    // The version this program writes; older databases are brought up to it step by step.
    static constexpr int SchemaVersion = 3;

    // Opens or creates the database at `path`. A file that is not a sound database of ours (or
    // one from a newer program) is moved aside and a new one started; outcome() tells. Throws
    // HistoryError when not even a new database can be made.
    explicit History(const QString& path);
    ~History();
    History(const History&) = delete;
    History& operator=(const History&) = delete;

    // The database of the user's data folder.
    static QString defaultPath();

    const OpenOutcome& outcome() const { return outcome_; }
    int schemaVersion() const;

    // Stores `message` in one transaction. True when it is stored now, false when a message of
    // that id was already there (nothing changes). Throws HistoryError when the write fails.
    bool add(const Message& message);

    std::vector<Conversation> conversations() const;              // the latest first
    std::vector<Message> conversation(const QString& peer) const; // in time order
    std::vector<Message> search(const QString& word) const;       // in time order
    // The unread messages in time order, without their texts, which text() gives one at a
    // time: all of a flood's texts would take more memory than the rest of the program.
    std::vector<Message> unreadWithoutText() const;
    QString text(const QString& id) const; // empty for an id not kept
    int unreadCount() const;
    void markRead(const QString& id);
    // Deletes every message with `peer`; returns how many went.
    int deleteConversation(const QString& peer);

private:
    bool openFile(const QString& path, QString& problem);
    void migrate();
    void closeFile();

    QString connection_;
    OpenOutcome outcome_;
};

} // namespace lanquill::inbox
