// How many questions for the desktop user each client address may have waiting at once. Every
// waiting question holds a server thread and a line in the desktop's queue; a client that asks more
// than a phone ever needs is refused (429) instead of burying the questions of the others.
//
//   auto slot = slots.take(peer);       // nullopt: this address has too many questions waiting
//   ask(...);                           // the slot is given back when `slot` goes
//
// Thread-safe.
#pragma once

#include "base/Mutex.h"

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>

namespace ferrylantern {

class QuestionSlots
{
public:
    // A browser sends at most six requests to one server at a time, so a phone re-sending a batch of
    // files that all exist already has at most six same-name questions waiting.
    static constexpr std::size_t defaultPerPeer = 8;

    class Slot
    {
    public:
        Slot(QuestionSlots& slots, std::string peer);
        ~Slot();
        Slot(Slot&& other) noexcept;
        Slot(const Slot&) = delete;
        Slot& operator=(const Slot&) = delete;
        Slot& operator=(Slot&&) = delete;

    private:
        QuestionSlots* slots_;
        std::string peer_;
    };

    explicit QuestionSlots(std::size_t perPeer = defaultPerPeer);

    [[nodiscard]] std::optional<Slot> take(const std::string& peer) EXCLUDES(lock_);

private:
    void giveBack(const std::string& peer) EXCLUDES(lock_);

    const std::size_t perPeer_;
    Mutex lock_;
    std::unordered_map<std::string, std::size_t> waiting_ GUARDED_BY(lock_);
};

} // namespace ferrylantern
