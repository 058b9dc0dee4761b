// The memory that unfinished request heads may hold together. Every connection may keep a small head
// of its own; bytes beyond that come from one shared budget, so hundreds of clients that each send
// most of a 1 MiB head and then stall cannot take hundreds of MiB between them.
//
// Thread-safe: an atomic count, taken and given back by the connection threads.
#pragma once

#include <atomic>
#include <cstddef>

namespace ferrylantern {

class HeadMemoryBudget
{
public:
    // What every connection's head may hold without drawing on the budget; ordinary heads, cookies
    // included, stay well below it.
    static constexpr std::size_t bytesPerConnection = 16384;
    // What all heads beyond their own share may hold together.
    static constexpr std::size_t sharedBytes = 16 * 1024 * 1024;

    explicit HeadMemoryBudget(std::size_t shared = sharedBytes)
        : available_(shared)
    {}

    // Takes `bytes` from the budget; false (nothing taken) when not that much is left.
    [[nodiscard]] bool take(std::size_t bytes)
    {
        std::size_t left = available_.load();
        do {
            if (left < bytes) {
                return false;
            }
        } while (!available_.compare_exchange_weak(left, left - bytes));
        return true;
    }

    void giveBack(std::size_t bytes) { available_ += bytes; }

private:
    std::atomic<std::size_t> available_;
};

} // namespace ferrylantern
