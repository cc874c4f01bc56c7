#pragma once

#include "link/link_failure.h"

#include <optional>
#include <utility>

namespace ostrand {

// The reply an exchange brought back, or why it brought none.
template <typename T>
class Result {
public:
    Result(T value) : value_(std::move(value)) {}
    Result(LinkFailure failure) : failure_(std::move(failure)) {}
    Result(LinkError error) { failure_.error = error; }

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    const T &value() const { return *value_; }
    const T &operator*() const { return *value_; }
    const T *operator->() const { return &*value_; }
    // Meaningful only when !ok().
    LinkError error() const { return failure_.error; }
    const LinkFailure &failure() const { return failure_; }

private:
    std::optional<T> value_;
    LinkFailure failure_;
};

// An exchange whose answer carries nothing beyond having come.
template <>
class Result<void> {
public:
    Result() = default;
    Result(LinkFailure failure) : ok_(false), failure_(std::move(failure)) {}
    Result(LinkError error) : ok_(false) { failure_.error = error; }

    bool ok() const { return ok_; }
    explicit operator bool() const { return ok_; }
    LinkError error() const { return failure_.error; }
    const LinkFailure &failure() const { return failure_; }

private:
    bool ok_ = true;
    LinkFailure failure_;
};

} // namespace ostrand
