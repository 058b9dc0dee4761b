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
#pragma once

#include "base/Mutex.h"

#include <cassert>
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

    bool resume(T value) EXCLUDES(lock_)
    {
        {
            const MutexLock guard(lock_);
            if (value_) {
                return false;
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

    bool isResumed() EXCLUDES(lock_)
    {
        const MutexLock guard(lock_);
        return value_.has_value();
    }

private:
    Mutex lock_;
    ConditionVariable ready_;
    std::optional<T> value_ GUARDED_BY(lock_);
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
