#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace tandem {

// A failure as the user sees it: `description` is shown word for word.
struct Error {
    std::string domain;
    int code = 0;
    std::string description;

    bool operator==(const Error&) const = default;
};

// Either a value or the Error that prevented it.
template <class T> class [[nodiscard]] Result {
public:
    Result(T value)
        : state(std::in_place_index<0>, std::move(value)) {}
    Result(Error error)
        : state(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & {
        assert(ok());
        return std::get<0>(state);
    }
    const T& value() const& {
        assert(ok());
        return std::get<0>(state);
    }
    T&& value() && {
        assert(ok());
        return std::get<0>(std::move(state));
    }
    const Error& error() const {
        assert(!ok());
        return std::get<1>(state);
    }
    T value_or(T fallback) const& { return ok() ? std::get<0>(state) : std::move(fallback); }

    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

private:
    std::variant<T, Error> state;
};

template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error)
        : failure(std::move(error)) {}

    bool ok() const { return !failure.has_value(); }
    explicit operator bool() const { return ok(); }
    const Error& error() const {
        assert(!ok());
        return *failure;
    }

private:
    std::optional<Error> failure;
};

// An Error for a failed POSIX call: "<what>: <strerror(errnum)>".
Error posixError(const std::string& what, int errnum);

} // namespace tandem
