#pragma once

#include "menubar/brand/CubicBezierEase.h"
#include "runtime/Executor.h"

#include <QObject>
#include <QPointer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QWidget;

namespace zq {

// The application's curves and durations: every animated view takes its timing from here.
namespace motion {

using Seconds = rt::Seconds;

// A quick start that lands gently: hovers, the panel's reveal, the pill's entrance, exit and width,
// the mark's assembly.
inline constexpr CubicBezier standard{0.2, 0.0, 0.0, 1.0};
// Starts at full speed and settles: the finished mark's last quarter turn.
inline constexpr CubicBezier decelerate{0.0, 0.0, 0.2, 1.0};
// Eases in and out: a disclosure chevron's turn.
inline constexpr CubicBezier easeInOut{0.42, 0.0, 0.58, 1.0};

// A panel row's hover; the pill's entrance and exit take as long.
inline constexpr Seconds rowHover{0.215};
inline constexpr Seconds pickerHover{0.14};
inline constexpr Seconds panelReveal{0.79};
// A question's chevron turning as its answer opens or closes.
inline constexpr Seconds disclosure{0.15};

// How often a moving view is drawn: tweens at 60 frames a second, the live pill and its previews
// under 30, the spinner once per spoke.
inline constexpr std::chrono::milliseconds frame{16};
inline constexpr std::chrono::milliseconds liveFrame{34};
inline constexpr std::chrono::milliseconds spinnerStep{125};

} // namespace motion

// A value on its way to a target along a timing curve. The target is the state; the tween only says
// where the value stands at a time, and owns no timer. A new tween stands at its target.
struct Tween {
    TimingCurve timing;
    double from = 0;
    double to = 0;
    rt::Nanos start{0};

    double at(rt::Nanos now) const;
    bool settled(rt::Nanos now) const;
    // Heads for `target` from where the value stands at `now`, so a reversal never jumps.
    void retarget(double target, rt::Nanos now);
    // Stands at `target` at once.
    void jump(double target);
};

// The one driver of the application's animations: a ticker on the main loop's clock that runs only
// while something moves, and the animations-off switch every animation obeys. With animations off a
// tween stands at its target and frames stop, except where a view keeps its fades (the pill and the
// panel's reveal only drop their movement). Windows hand it to their widgets with provide(); a widget
// outside any such window does not animate. Main thread only.
class Motion final : public QObject {
    Q_OBJECT
public:
    // What a view's frames do while animations are off.
    enum class WhenOff { stop, keepRunning };

    // A view's claim on the ticker: `frame` runs once per `interval` with the ticker's time while the
    // claim is started, and answers whether the view still moves. A view that answers no, or is
    // stopped or destroyed, takes no more frames.
    class Frames {
    public:
        Frames(std::chrono::milliseconds interval, std::function<bool(rt::Nanos now)> frame,
               WhenOff whenOff = WhenOff::stop);
        ~Frames();
        Frames(const Frames &) = delete;
        Frames &operator=(const Frames &) = delete;

        // Starting a started claim keeps its rhythm.
        void start(Motion &motion);
        void stop();
        // Whether frames run now: started, and not paused by the animations-off switch.
        bool isActive() const;
        // The ticker it was last started on; null before, and once that ticker is gone.
        Motion *motion() const { return m_motion; }

    private:
        friend class Motion;
        std::chrono::milliseconds m_interval;
        std::function<bool(rt::Nanos)> m_frame;
        WhenOff m_whenOff;
        Motion *m_motion = nullptr;
        std::uint64_t m_id = 0;
    };

    explicit Motion(rt::Executor &loop, QObject *parent = nullptr);
    ~Motion() override;

    // The ticker's clock: the loop's.
    rt::Nanos now() const { return m_loop.now(); }
    bool animationsOff() const { return m_animationsOff; }
    // Turning animations off gives every view that stops one last frame, so it draws where it is
    // going; turning them on again resumes the views that still run.
    void setAnimationsOff(bool off);
    // Whether a frame is due: false once the last animation has settled.
    bool isTicking() const { return m_tickAt.has_value(); }

    // Where a tween stands now; at its target while animations are off.
    double value(const Tween &tween) const;
    bool settled(const Tween &tween) const;

    // Lends this ticker to `root` and every widget under it.
    void provide(QWidget &root);
    // The ticker lent to `widget` or the nearest window or widget above it; null when none was.
    static Motion *of(const QWidget &widget);

private:
    struct Claim {
        std::uint64_t id;
        Frames *frames;
        rt::Nanos due;
    };

    bool runs(const Claim &claim) const;
    Claim *find(std::uint64_t id);
    void add(Frames &frames);
    void remove(std::uint64_t id);
    // Runs the frames that are due, then schedules the next tick.
    void tick();
    // Puts the next tick on the loop for the earliest due frame, or none when nothing runs.
    void schedule();

    rt::Executor &m_loop;
    bool m_animationsOff = false;
    std::vector<Claim> m_claims;
    std::uint64_t m_nextId = 1;
    // While frames run, scheduling waits for them all.
    bool m_runningFrames = false;
    std::optional<rt::Nanos> m_tickAt;
    rt::WorkItem m_tick;
    std::vector<QPointer<QWidget>> m_roots;
    rt::Lifetime m_lifetime;
};

// A value that eases toward its target on the ticker of the window its widget sits in: each frame
// calls `changed` until the value settles. With animations off, or outside any window with a ticker,
// the value moves at once. The first value is 0 and does not animate.
class AnimatedValue {
public:
    AnimatedValue(TimingCurve timing, std::function<void()> changed);

    // Heads for `target` from where the value stands; `widget` is where the value is drawn.
    void setTarget(double target, const QWidget &widget);
    double value() const;
    double target() const { return m_tween.to; }
    bool isAnimating() const { return m_frames.isActive(); }

private:
    bool frame();

    Tween m_tween;
    std::function<void()> m_changed;
    Motion::Frames m_frames;
};

} // namespace zq
