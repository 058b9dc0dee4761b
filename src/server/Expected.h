// A value or the error that prevented it, for results that cross the server's API (C++20 has no
// std::expected yet).
//
//   Expected<std::uint16_t, SocketHTTPError> port = server.start();
//   if (!port) show(description(port.error()));
#pragma once

#include <cassert>
#include <utility>
#include <variant>

namespace ferrylantern {

template <typename E>
struct Unexpected
{
    E error;
};

template <typename E>
Unexpected(E) -> Unexpected<E>;

template <typename T, typename E>
class [[nodiscard]] Expected
{
public:
    Expected(T value)
        : storage_(std::in_place_index<0>, std::move(value))
    {}
    Expected(Unexpected<E> failure)
        : storage_(std::in_place_index<1>, std::move(failure.error))
    {}

    bool hasValue() const { return storage_.index() == 0; }
    explicit operator bool() const { return hasValue(); }

    T& value() &
    {
        assert(hasValue());
        return std::get<0>(storage_);
    }
    const T& value() const&
    {
        assert(hasValue());
        return std::get<0>(storage_);
    }
    T&& value() &&
    {
        assert(hasValue());
        return std::get<0>(std::move(storage_));
    }
    const E& error() const
    {
        assert(!hasValue());
        return std::get<1>(storage_);
    }

    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

private:
    std::variant<T, E> storage_;
};

} // namespace ferrylantern
