#include "server/QuestionSlots.h"

#include <utility>

namespace ferrylantern {

QuestionSlots::Slot::Slot(QuestionSlots& slots, std::string peer)
    : slots_(&slots)
    , peer_(std::move(peer))
{}

QuestionSlots::Slot::Slot(Slot&& other) noexcept
    : slots_(std::exchange(other.slots_, nullptr))
    , peer_(std::move(other.peer_))
{}

QuestionSlots::Slot::~Slot()
{
    if (slots_ != nullptr) {
        slots_->giveBack(peer_);
    }
}

QuestionSlots::QuestionSlots(std::size_t perPeer)
    : perPeer_(perPeer)
{}

std::optional<QuestionSlots::Slot> QuestionSlots::take(const std::string& peer)
{
    {
        const MutexLock guard(lock_);
        auto& count = waiting_[peer];
        if (count >= perPeer_) {
            return std::nullopt;
        }
        ++count;
    }
    return Slot(*this, peer);
}

void QuestionSlots::giveBack(const std::string& peer)
{
    const MutexLock guard(lock_);
    if (const auto found = waiting_.find(peer); found != waiting_.end() && --found->second == 0) {
        waiting_.erase(found);
    }
}

} // namespace ferrylantern
