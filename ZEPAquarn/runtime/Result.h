#pragma once

#include <QString>

#include <optional>
#include <utility>
#include <variant>

namespace zq::rt {

// An error that the world can cause (a missing file, a vanished device, a refused request).
// `message` is a sentence fit to show a user; `domain` and `code` keep the low-level cause.
struct Error {
    QString message;
    QString domain;
    int code = 0;

    friend bool operator==(const Error &, const Error &) = default;
};

// A value or an error. Back-ends and stores return it at their boundaries instead of throwing.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_state(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : m_state(std::in_place_index<1>, std::move(error)) {}

    bool hasValue() const { return m_state.index() == 0; }
    explicit operator bool() const { return hasValue(); }

    T &value() & { return std::get<0>(m_state); }
    const T &value() const & { return std::get<0>(m_state); }
    T &&value() && { return std::get<0>(std::move(m_state)); }
    T valueOr(T fallback) const { return hasValue() ? value() : fallback; }

    const Error &error() const { return std::get<1>(m_state); }

private:
    std::variant<T, Error> m_state;
};

template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : m_error(std::move(error)) {}

    bool hasValue() const { return !m_error.has_value(); }
    explicit operator bool() const { return hasValue(); }
    const Error &error() const { return *m_error; }

private:
    std::optional<Error> m_error;
};

inline Error makeError(QString message, QString domain = {}, int code = 0)
{
    return Error{std::move(message), std::move(domain), code};
}

} // namespace zq::rt
