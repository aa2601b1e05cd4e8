#include "menubar/brand/Motion.h"

#include <QVariant>
#include <QWidget>

#include <algorithm>

namespace zq {

namespace {

// The dynamic property by which a window lends its ticker to the widgets under it.
constexpr char kProvidedMotion[] = "zq-motion";

} // namespace

double Tween::at(rt::Nanos now) const
{
    return from + (to - from) * timing.progress(now - start);
}

bool Tween::settled(rt::Nanos now) const
{
    return from == to || now - start >= timing.duration;
}

void Tween::retarget(double target, rt::Nanos now)
{
    from = at(now);
    to = target;
    start = now;
}

void Tween::jump(double target)
{
    from = target;
    to = target;
}

Motion::Frames::Frames(std::chrono::milliseconds interval, std::function<bool(rt::Nanos)> frame, WhenOff whenOff)
    : m_interval(interval), m_frame(std::move(frame)), m_whenOff(whenOff)
{}

Motion::Frames::~Frames()
{
    stop();
}

void Motion::Frames::start(Motion &motion)
{
    if (m_id != 0 && m_motion == &motion)
        return;
    stop();
    motion.add(*this);
}

void Motion::Frames::stop()
{
    if (m_id != 0 && m_motion)
        m_motion->remove(m_id);
}

bool Motion::Frames::isActive() const
{
    return m_id != 0 && m_motion && (!m_motion->animationsOff() || m_whenOff == WhenOff::keepRunning);
}

Motion::Motion(rt::Executor &loop, QObject *parent) : QObject(parent), m_loop(loop) {}

Motion::~Motion()
{
    m_tick.cancel();
    for (const Claim &claim : m_claims) {
        claim.frames->m_id = 0;
        claim.frames->m_motion = nullptr;
    }
    for (const QPointer<QWidget> &root : m_roots) {
        if (root)
            root->setProperty(kProvidedMotion, QVariant());
    }
}

void Motion::setAnimationsOff(bool off)
{
    if (off == m_animationsOff)
        return;
    m_animationsOff = off;
    const rt::Nanos at = now();
    m_runningFrames = true;
    if (off) {
        // One last frame, drawn at the target, for every view that stops.
        std::vector<std::uint64_t> stopping;
        for (const Claim &claim : m_claims) {
            if (claim.frames->m_whenOff == WhenOff::stop)
                stopping.push_back(claim.id);
        }
        for (const std::uint64_t id : stopping) {
            Claim *claim = find(id);
            if (claim && !claim->frames->m_frame(at) && find(id))
                remove(id);
        }
    } else {
        for (Claim &claim : m_claims)
            claim.due = std::max(claim.due, at + claim.frames->m_interval);
    }
    m_runningFrames = false;
    schedule();
}

double Motion::value(const Tween &tween) const
{
    return m_animationsOff ? tween.to : tween.at(now());
}

bool Motion::settled(const Tween &tween) const
{
    return m_animationsOff || tween.settled(now());
}

void Motion::provide(QWidget &root)
{
    root.setProperty(kProvidedMotion, QVariant::fromValue(static_cast<QObject *>(this)));
    m_roots.emplace_back(&root);
}

Motion *Motion::of(const QWidget &widget)
{
    for (const QWidget *above = &widget; above; above = above->parentWidget()) {
        const QVariant provided = above->property(kProvidedMotion);
        if (provided.isValid())
            return qobject_cast<Motion *>(provided.value<QObject *>());
    }
    return nullptr;
}

bool Motion::runs(const Claim &claim) const
{
    return !m_animationsOff || claim.frames->m_whenOff == WhenOff::keepRunning;
}

Motion::Claim *Motion::find(std::uint64_t id)
{
    const auto it = std::find_if(m_claims.begin(), m_claims.end(), [id](const Claim &c) { return c.id == id; });
    return it == m_claims.end() ? nullptr : &*it;
}

void Motion::add(Frames &frames)
{
    frames.m_id = m_nextId++;
    frames.m_motion = this;
    m_claims.push_back({frames.m_id, &frames, now() + frames.m_interval});
    schedule();
}

void Motion::remove(std::uint64_t id)
{
    const auto it = std::find_if(m_claims.begin(), m_claims.end(), [id](const Claim &c) { return c.id == id; });
    if (it == m_claims.end())
        return;
    it->frames->m_id = 0;
    m_claims.erase(it);
    schedule();
}

void Motion::tick()
{
    m_tickAt.reset();
    m_tick = {};
    const rt::Nanos at = now();
    std::vector<std::uint64_t> due;
    for (const Claim &claim : m_claims) {
        if (runs(claim) && claim.due <= at)
            due.push_back(claim.id);
    }
    m_runningFrames = true;
    for (const std::uint64_t id : due) {
        // A frame may stop or destroy another view's claim.
        Claim *claim = find(id);
        if (!claim)
            continue;
        claim->due = at + claim->frames->m_interval;
        if (!claim->frames->m_frame(at) && find(id))
            remove(id);
    }
    m_runningFrames = false;
    schedule();
}

void Motion::schedule()
{
    if (m_runningFrames)
        return;
    std::optional<rt::Nanos> next;
    for (const Claim &claim : m_claims) {
        if (runs(claim) && (!next || claim.due < *next))
            next = claim.due;
    }
    if (!next) {
        // Idle: nothing is left on the loop.
        m_tick.cancel();
        m_tick = {};
        m_tickAt.reset();
        return;
    }
    if (m_tickAt && *m_tickAt <= *next)
        return;
    m_tick.cancel();
    m_tickAt = next;
    m_tick = m_loop.postDelayed(std::max(rt::Nanos(0), *next - now()), m_lifetime.guard([this] { tick(); }));
}

AnimatedValue::AnimatedValue(TimingCurve timing, std::function<void()> changed)
    : m_tween{timing}, m_changed(std::move(changed)), m_frames(motion::frame, [this](rt::Nanos) { return frame(); })
{}

void AnimatedValue::setTarget(double target, const QWidget &widget)
{
    Motion *motion = Motion::of(widget);
    if (motion && !motion->animationsOff()) {
        m_tween.retarget(target, motion->now());
        m_frames.start(*motion);
    } else {
        m_tween.jump(target);
        m_frames.stop();
    }
    m_changed();
}

double AnimatedValue::value() const
{
    return m_frames.isActive() ? m_frames.motion()->value(m_tween) : m_tween.to;
}

bool AnimatedValue::frame()
{
    const bool moving = !m_frames.motion()->settled(m_tween);
    if (!moving)
        m_tween.jump(m_tween.to); // a later change starts from here, even if animations cut it short
    m_changed();
    return moving;
}

} // namespace zq
