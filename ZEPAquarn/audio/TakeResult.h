#pragma once

#include <QString>

#include <variant>

namespace zq {

// A take that recorded audio. The file belongs to the caller, who deletes it or keeps it.
struct CapturedTake {
    QString url;         // path of the take's WAV file
    double duration = 0; // seconds from the start of the take to its end
    // The take's microphone stopped mid-take and no rebuild brought sound back: the file holds
    // what was heard until then.
    bool inputLost = false;

    friend bool operator==(const CapturedTake &, const CapturedTake &) = default;
};

// The classified end of a take.
class TakeResult {
public:
    enum class Kind { captured, tooShort, empty };

    static TakeResult captured(CapturedTake take) { return TakeResult(std::move(take)); }
    // Shorter than half a second; the file is already deleted.
    static TakeResult tooShort() { return TakeResult(Kind::tooShort); }
    // Long enough but no audio arrived; the file is already deleted.
    static TakeResult empty() { return TakeResult(Kind::empty); }

    Kind kind() const
    {
        if (std::holds_alternative<CapturedTake>(m_value))
            return Kind::captured;
        return std::get<Kind>(m_value);
    }
    // The payload of a captured take, else null.
    const CapturedTake *capturedTake() const { return std::get_if<CapturedTake>(&m_value); }

    friend bool operator==(const TakeResult &, const TakeResult &) = default;

private:
    explicit TakeResult(CapturedTake take) : m_value(std::move(take)) {}
    explicit TakeResult(Kind kind) : m_value(kind) {}

    std::variant<Kind, CapturedTake> m_value;
};

} // namespace zq
