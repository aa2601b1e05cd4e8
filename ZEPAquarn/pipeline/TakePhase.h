#pragma once

#include <QString>

#include <optional>

namespace zq {

// What the audio engine tells the phase machine (see TakePhase::applying for the moves).
class TakeLifecycleEvent {
public:
    enum class Kind { startEnded, startClaimed, takeBegan, captureProved, takeEnded, sessionReleased };

    // A start ended (take began, intent withdrawn, or failed); `sessionWarm`: a capture core is still open.
    static constexpr TakeLifecycleEvent startEnded(bool sessionWarm) { return {Kind::startEnded, sessionWarm}; }
    static constexpr TakeLifecycleEvent startClaimed() { return {Kind::startClaimed, false}; }
    static constexpr TakeLifecycleEvent takeBegan() { return {Kind::takeBegan, false}; }
    static constexpr TakeLifecycleEvent captureProved() { return {Kind::captureProved, false}; }
    static constexpr TakeLifecycleEvent takeEnded() { return {Kind::takeEnded, false}; }
    static constexpr TakeLifecycleEvent sessionReleased() { return {Kind::sessionReleased, false}; }

    constexpr Kind kind() const { return m_kind; }
    // Only meaningful for startEnded; false for every other kind.
    constexpr bool sessionWarm() const { return m_sessionWarm; }

    // For the log, e.g. "startEnded(sessionWarm: true)", "takeBegan".
    QString description() const;

    friend constexpr bool operator==(const TakeLifecycleEvent &, const TakeLifecycleEvent &) = default;

private:
    constexpr TakeLifecycleEvent(Kind kind, bool sessionWarm) : m_kind(kind), m_sessionWarm(sessionWarm) {}

    Kind m_kind;
    bool m_sessionWarm;
};

// The audio engine's one take phase. A plain value; the engine stores the result of applying().
class TakePhase {
public:
    enum class Kind { live, idle, starting, graceIdle };

    // A take is running; `capturing` once audio has been proved to flow.
    static constexpr TakePhase live(bool capturing) { return {Kind::live, capturing}; }
    // No take and no warm capture session.
    static constexpr TakePhase idle() { return {Kind::idle, false}; }
    // A start of a take has been claimed and is in progress.
    static constexpr TakePhase starting() { return {Kind::starting, false}; }
    // No take, but the capture session is kept warm for a grace period.
    static constexpr TakePhase graceIdle() { return {Kind::graceIdle, false}; }

    constexpr Kind kind() const { return m_kind; }
    // Only meaningful for live; false for every other kind.
    constexpr bool capturing() const { return m_capturing; }
    constexpr bool isLiveAndCapturing() const { return m_kind == Kind::live && m_capturing; }

    // The next phase, or none when `event` is not a legal move from this phase. Pure; the caller
    // keeps its old phase and logs an illegal move.
    std::optional<TakePhase> applying(const TakeLifecycleEvent &event) const;

    // For the log, e.g. "live(capturing: false)", "graceIdle".
    QString description() const;

    friend constexpr bool operator==(const TakePhase &, const TakePhase &) = default;

private:
    constexpr TakePhase(Kind kind, bool capturing) : m_kind(kind), m_capturing(capturing) {}

    Kind m_kind;
    bool m_capturing;
};

} // namespace zq
