#include "app/GroupPresence.h"

#include "widgets/TfcOutlookList.h"

#include <utility>

namespace lanquill::app {

GroupPresence::GroupPresence(platform::PresenceProber& prober,
                             std::function<Clock::time_point()> now, QObject* parent)
    : QObject(parent), prober_(prober), now_(std::move(now)) {}

GroupPresence::~GroupPresence() {
    if (worker_.joinable())
        worker_.join();
}

void GroupPresence::check(widgets::TfcOutlookList* list,
                          std::vector<std::optional<platform::PresenceTarget>> targets) {
    list_ = list;
    targets_ = std::move(targets);
    mark();
    if (roundUnderWay()) {
        checkWaiting_ = true;
        return;
    }
    startRound();
}

void GroupPresence::startRound() {
    const Clock::time_point now = now_();
    std::vector<platform::PresenceTarget> due;
    for (const std::optional<platform::PresenceTarget>& target : targets_) {
        if (!target)
            continue;
        const auto asked = lastAsked_.find(*target);
        if (asked != lastAsked_.end() && now - asked->second < kLeastSpacing)
            continue; // also skips a computer listed twice on the page
        lastAsked_[*target] = now;
        due.push_back(*target);
    }
    if (due.empty())
        return;
    worker_ = std::thread([this, due = std::move(due)]() mutable {
        std::vector<bool> answered = prober_.probe(due);
        answered.resize(due.size(), false);
        // Queued to this object: the destructor joins this thread before the object goes, and
        // an event still posted then is dropped with it.
        QMetaObject::invokeMethod(
            this,
            [this, asked = std::move(due), answered = std::move(answered)]() mutable {
                finishRound(std::move(asked), std::move(answered));
            },
            Qt::QueuedConnection);
    });
}

void GroupPresence::finishRound(std::vector<platform::PresenceTarget> asked,
                                std::vector<bool> answered) {
    worker_.join();
    for (std::size_t i = 0; i < asked.size(); ++i)
        online_[asked[i]] = answered[i];
    mark();
    if (std::exchange(checkWaiting_, false))
        startRound();
    Q_EMIT roundFinished();
}

void GroupPresence::mark() {
    if (!list_)
        return;
    const int count = std::min(list_->count(), static_cast<int>(targets_.size()));
    for (int index = 0; index < count; ++index) {
        widgets::Presence presence = widgets::Presence::Unknown;
        if (const auto& target = targets_[static_cast<std::size_t>(index)]) {
            const auto known = online_.find(*target);
            if (known != online_.end())
                presence = known->second ? widgets::Presence::Online : widgets::Presence::Offline;
        }
        list_->item(index)->setPresence(presence);
    }
}

} // namespace lanquill::app
