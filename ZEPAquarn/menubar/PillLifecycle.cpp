#include "menubar/PillLifecycle.h"

#include "menubar/brand/Metrics.h"
#include "menubar/brand/Motion.h"
#include "menubar/brand/ZepaMeter.h"

#include <algorithm>
#include <cmath>

namespace zq {

namespace {

// The entrance and exit take as long as a row's hover.
constexpr TimingCurve kPresence{motion::standard, motion::rowHover};
constexpr TimingCurve kWidth{motion::standard, motion::Seconds(0.45)};
constexpr TimingCurve kRollup{motion::standard, motion::Seconds(0.52)};
constexpr double kTurnDegreesPerSecond = 100;
constexpr TimingCurve kDoneTurn{motion::decelerate, motion::Seconds(0.9)};

// Eased progress of `timing` at `now` for a change that began at `since`.
double eased(const TimingCurve &timing, rt::Nanos since, rt::Nanos now)
{
    return timing.progress(now - since);
}

} // namespace

bool PillLifecycle::isCapturing(const PillState &state)
{
    return state.is(PillState::Kind::listening) || state.is(PillState::Kind::locked);
}

void PillLifecycle::apply(const PillState &next, const LevelHistory &history, rt::Nanos now)
{
    // A hide only starts the exit; the last state stays so the fading pill still draws it.
    if (next.is(PillState::Kind::hidden)) {
        if (shownAt && !exitAt)
            exitAt = now;
        return;
    }
    const PillState old = state;
    if (exitAt)
        *this = PillLifecycle();

    bool wasCapturing = false;
    if (!shownAt) {
        shownAt = now;
        previous = next;
        rollupAt.reset();
    } else {
        previous = old;
        wasCapturing = isCapturing(old);
    }

    if (next.is(PillState::Kind::thinking) || next.is(PillState::Kind::done) || next.is(PillState::Kind::muted)) {
        if (wasCapturing && captureWasLive && !rollupAt) {
            rollupAt = now;
            rollupHistory = history;
        }
    }

    if (isCapturing(next)) {
        if (isCapturing(old)) {
            if (!captureWasLive)
                rollupAt.reset();
        } else {
            captureLive = false;
            captureWasLive = false;
            captureAt.reset();
            rollupAt.reset();
        }
    }

    state = next;
    stateAt = now;
}

void PillLifecycle::noteCapture(bool live, const LevelHistory &history, rt::Nanos now)
{
    if (!isCapturing() || live == captureLive)
        return;
    captureLive = live;
    captureAt = now;
    if (live) {
        captureWasLive = true;
        rollupAt.reset();
    } else if (captureWasLive) {
        rollupAt = now;
        rollupHistory = history;
    }
}

PillLifecycle::Presence PillLifecycle::presence(rt::Nanos now) const
{
    if (exitAt) {
        const double e = eased(kPresence, *exitAt, now);
        return {1 - e, 1 - 0.195 * e, 0};
    }
    if (!shownAt)
        return {0, 0.976, 8};
    const double e = eased(kPresence, *shownAt, now);
    return {e, 0.976 + 0.024 * e, 8 * (1 - e)};
}

double PillLifecycle::pillWidth(bool reduceMotion, rt::Nanos now) const
{
    const bool liveNow = isCapturing() && captureLive;
    if (reduceMotion)
        return liveNow ? PillMetrics::kWideWidth : PillMetrics::kNarrowWidth;
    if (liveNow)
        return PillMetrics::kNarrowWidth +
               (PillMetrics::kWideWidth - PillMetrics::kNarrowWidth) * eased(kWidth, captureAt.value_or(stateAt), now);
    if (isCapturing() && !captureWasLive)
        return PillMetrics::kNarrowWidth;
    if (!rollupAt)
        return PillMetrics::kNarrowWidth;
    return PillMetrics::kWideWidth -
           (PillMetrics::kWideWidth - PillMetrics::kNarrowWidth) * eased(kWidth, *rollupAt, now);
}

double PillLifecycle::captureFade(bool reduceMotion, rt::Nanos now) const
{
    if (isCapturing() && captureLive)
        return reduceMotion ? 1.0 : eased(kWidth, captureAt.value_or(stateAt), now);
    if (captureWasLive && rollupAt && !reduceMotion)
        return 1 - eased(kWidth, *rollupAt, now);
    return 0;
}

double PillLifecycle::rollupProgress(rt::Nanos now) const
{
    return rollupAt ? eased(kRollup, *rollupAt, now) : 0.0;
}

double PillLifecycle::markRotation(rt::Nanos now) const
{
    const rt::Nanos base = rollupAt.value_or(stateAt);
    // Seconds the mark has turned by `at`: it starts once the roll-up is over.
    const auto turned = [&](rt::Nanos at) {
        return std::max(0.0, rt::Seconds(at - (base + kRollup.duration)).count());
    };
    if (state.is(PillState::Kind::thinking))
        return kTurnDegreesPerSecond * turned(now);
    if (state.is(PillState::Kind::done)) {
        const double reached = kTurnDegreesPerSecond * turned(stateAt);
        return reached + 90 * eased(kDoneTurn, stateAt, now);
    }
    return 0;
}

std::vector<double> PillLifecycle::rollupFrom(double height) const
{
    if (!rollupAt)
        return {};
    // The bar meter's staggered heights at the moment the capture ended.
    ZepaMeter meter;
    meter.height = height;
    std::vector<double> bars;
    for (int bar = 0; bar < 4; ++bar) {
        const double level = rollupHistory.level(*rollupAt, ZepaMeter::kStagger * bar);
        bars.push_back(ZepaMeter::liveFraction(bar, level, *rollupAt, true, meter.restFraction()));
    }
    return bars;
}

} // namespace zq
