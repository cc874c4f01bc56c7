#pragma once

#include "link/link_error.h"

#include <optional>
#include <utility>

namespace ostrand {

// The reply an exchange brought back, or why it brought none.
template <typename T>
class Result {
public:
    Result(T value) : value_(std::move(value)) {}
    Result(LinkError error) : error_(error) {}

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    const T &value() const { return *value_; }
    const T &operator*() const { return *value_; }
    const T *operator->() const { return &*value_; }
    // Meaningful only when !ok().
    LinkError error() const { return error_; }

private:
    std::optional<T> value_;
    LinkError error_ = LinkError::TimedOut;
};

// An exchange whose answer carries nothing beyond having come.
template <>
class Result<void> {
public:
    Result() = default;
    Result(LinkError error) : ok_(false), error_(error) {}

    bool ok() const { return ok_; }
    explicit operator bool() const { return ok_; }
    LinkError error() const { return error_; }

private:
    bool ok_ = true;
    LinkError error_ = LinkError::TimedOut;
};

} // namespace ostrand
