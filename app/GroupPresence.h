// Presence marks for the computers of the group bar page on show. Each check sends, off the GUI
// thread, one query to every computer (by its address, or by its name where the book has no
// address) not asked within the last kInterval and marks the items from the latest answers;
// asking more often would only add traffic, never news.
#pragma once

#include "platform/Platform.h"

#include <QObject>
#include <QPointer>

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <thread>
#include <vector>

namespace lanquill::widgets {
class TfcOutlookList;
}

namespace lanquill::app {

class GroupPresence : public QObject {
    Q_OBJECT
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kInterval{30};
    // A computer asked less than this long ago is not asked again (a page shown twice in a
    // row); the refresh every kInterval always asks, also when its timer fires a little early,
    // so that a mark follows a computer within one interval.
    static constexpr std::chrono::seconds kLeastSpacing{20};

    explicit GroupPresence(platform::PresenceProber& prober,
                           std::function<Clock::time_point()> now = Clock::now,
                           QObject* parent = nullptr);
    // Waits for a round under way (bounded by the prober's collect time).
    ~GroupPresence() override;
    GroupPresence(const GroupPresence&) = delete;
    GroupPresence& operator=(const GroupPresence&) = delete;

    // Shows presence on `list`, whose item i stands for targets[i] (nullopt: no mark), and asks
    // the targets that are due. A check while a round is under way is taken up after it.
    void check(widgets::TfcOutlookList* list,
               std::vector<std::optional<platform::PresenceTarget>> targets);
    bool roundUnderWay() const { return worker_.joinable(); }

Q_SIGNALS:
    // A round's answers are in and marked.
    void roundFinished();

private:
    void startRound();
    void finishRound(std::vector<platform::PresenceTarget> asked, std::vector<bool> answered);
    void mark();

    platform::PresenceProber& prober_;
    std::function<Clock::time_point()> now_;
    QPointer<widgets::TfcOutlookList> list_;
    std::vector<std::optional<platform::PresenceTarget>> targets_;
    std::map<platform::PresenceTarget, Clock::time_point> lastAsked_;
    std::map<platform::PresenceTarget, bool> online_;
    std::thread worker_;
    bool checkWaiting_ = false;
};

} // namespace lanquill::app
