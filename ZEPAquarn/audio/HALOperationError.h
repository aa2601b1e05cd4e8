#pragma once

#include <QString>

#include <exception>

namespace zq {

// The one way a call through the HAL executor fails on its own: the audio server did not answer
// before the deadline. Thrown into the awaiting task; every value equals every other.
class HALOperationError : public std::exception {
public:
    enum class Kind { timedOut };

    static HALOperationError timedOut() { return HALOperationError(); }

    Kind kind() const { return Kind::timedOut; }
    // The user-facing sentence.
    static QString errorDescription();
    const char *what() const noexcept override;

    friend bool operator==(const HALOperationError &, const HALOperationError &) { return true; }
};

} // namespace zq
