#include "menubar/PillLifecycle.h"

#include "menubar/brand/CubicBezierEase.h"
#include "menubar/brand/Metrics.h"
#include "menubar/brand/ZepaMeter.h"

#include <algorithm>
#include <cmath>

namespace zq {

namespace {

constexpr double kWidthSeconds = 0.45;
constexpr double kPresenceSeconds = 0.215;
constexpr double kRollupSeconds = 0.52;
constexpr double kTurnDegreesPerSecond = 100;
constexpr double kDoneTurnSeconds = 0.9;

// The pill's standard curve.
double ease(double p)
{
    return cubicBezierEase(p, 0.2, 0, 0, 1);
}

double unit(double value)
{
    return std::clamp(value, 0.0, 1.0);
}

} // namespace

bool PillLifecycle::isCapturing(const PillState &state)
{
    return state.is(PillState::Kind::listening) || state.is(PillState::Kind::locked);
}

void PillLifecycle::apply(const PillState &next, const LevelHistory &history, double now)
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

void PillLifecycle::noteCapture(bool live, const LevelHistory &history, double now)
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

PillLifecycle::Presence PillLifecycle::presence(double now) const
{
    if (exitAt) {
        const double e = ease(unit((now - *exitAt) / kPresenceSeconds));
        return {1 - e, 1 - 0.195 * e, 0};
    }
    if (!shownAt)
        return {0, 0.976, 8};
    const double e = ease(unit((now - *shownAt) / kPresenceSeconds));
    return {e, 0.976 + 0.024 * e, 8 * (1 - e)};
}

double PillLifecycle::pillWidth(bool reduceMotion, double now) const
{
    const bool liveNow = isCapturing() && captureLive;
    if (reduceMotion)
        return liveNow ? PillMetrics::kWideWidth : PillMetrics::kNarrowWidth;
    if (liveNow)
        return PillMetrics::kNarrowWidth + (PillMetrics::kWideWidth - PillMetrics::kNarrowWidth) *
                                               ease(unit((now - captureAt.value_or(stateAt)) / kWidthSeconds));
    if (isCapturing() && !captureWasLive)
        return PillMetrics::kNarrowWidth;
    if (!rollupAt)
        return PillMetrics::kNarrowWidth;
    return PillMetrics::kWideWidth -
           (PillMetrics::kWideWidth - PillMetrics::kNarrowWidth) * ease(unit((now - *rollupAt) / kWidthSeconds));
}

double PillLifecycle::captureFade(bool reduceMotion, double now) const
{
    if (isCapturing() && captureLive)
        return reduceMotion ? 1.0 : ease(unit((now - captureAt.value_or(stateAt)) / kWidthSeconds));
    if (captureWasLive && rollupAt && !reduceMotion)
        return 1 - ease(unit((now - *rollupAt) / kWidthSeconds));
    return 0;
}

double PillLifecycle::rollupProgress(double now) const
{
    return rollupAt ? ease((now - *rollupAt) / kRollupSeconds) : 0.0;
}

double PillLifecycle::markRotation(double now) const
{
    const double base = rollupAt.value_or(stateAt);
    if (state.is(PillState::Kind::thinking))
        return kTurnDegreesPerSecond * std::max(0.0, now - (base + kRollupSeconds));
    if (state.is(PillState::Kind::done)) {
        const double reached = kTurnDegreesPerSecond * std::max(0.0, stateAt - (base + kRollupSeconds));
        return reached + 90 * cubicBezierEase(unit((now - stateAt) / kDoneTurnSeconds), 0, 0, 0.2, 1);
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
