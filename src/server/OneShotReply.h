// A reply that a waiting thread receives exactly once from another thread.
//
//   auto [reply, waiter] = makeOneShotReply<bool>(false);
//   owner.ask(question, reply);      // the owner calls reply.resume(answer) once, on any thread
//   bool answer = waiter.wait();     // blocks until then
//
// OneShotReply is copyable and thread-safe; copies resume the same reply. A second resume is a
// programming error (asserted in debug builds, ignored otherwise). If every copy is destroyed without
// a resume, the waiter receives the fallback value, so a dropped question can never block its thread
// for ever.
//
// The waiting side may also give up (withdraw(): the client that asked has gone away). The waiter then
// receives the fallback, the owner's handler set with onWithdrawn() is called so the owner can take
// the question off its queue, and a resume that comes later anyway is ignored: whichever comes first,
// the answer or the withdrawal, is the one that counts.
#pragma once

#include "base/Mutex.h"

#include <cassert>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace ferrylantern {

namespace detail {

template <typename T>
class ReplyState
{
public:
    explicit ReplyState(T fallback)
        : fallback_(std::move(fallback))
    {}

    // False when the reply was resumed before; a resume after a withdrawal counts as done.
    bool resume(T value) EXCLUDES(lock_)
    {
        {
            const MutexLock guard(lock_);
            if (value_) {
                return withdrawn_;
            }
            value_ = std::move(value);
        }
        ready_.notifyAll();
        return true;
    }

    void resumeWithFallbackIfPending() { resume(fallback_); }

    T wait() EXCLUDES(lock_)
    {
        const MutexLock guard(lock_);
        while (!value_) {
            ready_.wait(lock_);
        }
        return *value_;
    }

    std::optional<T> waitFor(std::chrono::milliseconds timeout) EXCLUDES(lock_)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        const MutexLock guard(lock_);
        while (!value_) {
            if (!ready_.waitUntil(lock_, deadline)) {
                return value_;
            }
        }
        return value_;
    }

    // The answer if there is one already; otherwise the fallback, and the owner is told.
    T withdraw() EXCLUDES(lock_)
    {
        std::function<void()> handler;
        {
            const MutexLock guard(lock_);
            if (value_) {
                return *value_;
            }
            value_ = fallback_;
            withdrawn_ = true;
            handler = std::move(withdrawnHandler_);
        }
        ready_.notifyAll();
        if (handler) {
            handler();
        }
        return fallback_;
    }

    void onWithdrawn(std::function<void()> handler) EXCLUDES(lock_)
    {
        {
            const MutexLock guard(lock_);
            if (!withdrawn_) {
                withdrawnHandler_ = std::move(handler);
                return;
            }
        }
        handler();
    }

    bool isResumed() EXCLUDES(lock_)
    {
        const MutexLock guard(lock_);
        return value_.has_value();
    }

private:
    Mutex lock_;
    ConditionVariable ready_;
    std::optional<T> value_ GUARDED_BY(lock_);
    bool withdrawn_ GUARDED_BY(lock_) = false;
    std::function<void()> withdrawnHandler_ GUARDED_BY(lock_);
    T fallback_;
};

// Owned by the OneShotReply copies; resumes with the fallback when the last copy goes away.
template <typename T>
class ReplyToken
{
public:
    explicit ReplyToken(std::shared_ptr<ReplyState<T>> state)
        : state_(std::move(state))
    {}
    ~ReplyToken() { state_->resumeWithFallbackIfPending(); }
    ReplyToken(const ReplyToken&) = delete;
    ReplyToken& operator=(const ReplyToken&) = delete;
    ReplyState<T>& state() { return *state_; }

private:
    std::shared_ptr<ReplyState<T>> state_;
};

} // namespace detail

template <typename T>
class OneShotReply;
template <typename T>
class ReplyWaiter;
template <typename T>
std::pair<OneShotReply<T>, ReplyWaiter<T>> makeOneShotReply(T fallback);

template <typename T>
class OneShotReply
{
public:
    // Resumes the waiting thread with `value`. Must be called at most once over all copies.
    void resume(T value) const
    {
        [[maybe_unused]] const bool first = token_->state().resume(std::move(value));
        assert(first && "a one-shot reply was resumed twice");
    }

    bool isResumed() const { return token_->state().isResumed(); }

    // Called, on the withdrawing thread, if the waiting side gives the question up before it is
    // answered; at once if it has already. The handler must not resume the reply.
    void onWithdrawn(std::function<void()> handler) const { token_->state().onWithdrawn(std::move(handler)); }

private:
    friend std::pair<OneShotReply<T>, ReplyWaiter<T>> makeOneShotReply<T>(T fallback);

    explicit OneShotReply(std::shared_ptr<detail::ReplyToken<T>> token)
        : token_(std::move(token))
    {}

    std::shared_ptr<detail::ReplyToken<T>> token_;
};

template <typename T>
class ReplyWaiter
{
public:
    // Blocks until the reply is resumed (or abandoned) and returns its value.
    T wait() const { return state_->wait(); }
    // The same, giving up after `timeout` with nullopt.
    std::optional<T> waitFor(std::chrono::milliseconds timeout) const { return state_->waitFor(timeout); }
    // Gives the question up: returns the answer if it came meanwhile, else the fallback, and from now
    // on the owner's resume is ignored.
    T withdraw() const { return state_->withdraw(); }

private:
    friend std::pair<OneShotReply<T>, ReplyWaiter<T>> makeOneShotReply<T>(T fallback);

    explicit ReplyWaiter(std::shared_ptr<detail::ReplyState<T>> state)
        : state_(std::move(state))
    {}

    std::shared_ptr<detail::ReplyState<T>> state_;
};

template <typename T>
std::pair<OneShotReply<T>, ReplyWaiter<T>> makeOneShotReply(T fallback)
{
    auto state = std::make_shared<detail::ReplyState<T>>(std::move(fallback));
    auto token = std::make_shared<detail::ReplyToken<T>>(state);
    return {OneShotReply<T>(std::move(token)), ReplyWaiter<T>(std::move(state))};
}

} // namespace ferrylantern
