#include "pipeline/TakePhase.h"

namespace zq {

namespace {

QString withFlag(const char *name, const char *label, bool flag)
{
    return QStringLiteral("%1(%2: %3)")
        .arg(QLatin1String(name), QLatin1String(label), flag ? QLatin1String("true") : QLatin1String("false"));
}

} // namespace

QString TakeLifecycleEvent::description() const
{
    switch (m_kind) {
    case Kind::startEnded:
        return withFlag("startEnded", "sessionWarm", m_sessionWarm);
    case Kind::startClaimed:
        return QStringLiteral("startClaimed");
    case Kind::takeBegan:
        return QStringLiteral("takeBegan");
    case Kind::captureProved:
        return QStringLiteral("captureProved");
    case Kind::takeEnded:
        return QStringLiteral("takeEnded");
    case Kind::sessionReleased:
        return QStringLiteral("sessionReleased");
    }
    return {};
}

QString TakePhase::description() const
{
    switch (m_kind) {
    case Kind::live:
        return withFlag("live", "capturing", m_capturing);
    case Kind::idle:
        return QStringLiteral("idle");
    case Kind::starting:
        return QStringLiteral("starting");
    case Kind::graceIdle:
        return QStringLiteral("graceIdle");
    }
    return {};
}

std::optional<TakePhase> TakePhase::applying(const TakeLifecycleEvent &event) const
{
    using Event = TakeLifecycleEvent::Kind;
    const TakePhase same = *this;

    switch (m_kind) {
    case Kind::idle:
        switch (event.kind()) {
        case Event::startClaimed:
            return starting();
        case Event::startEnded:
        case Event::takeBegan:
            return std::nullopt;
        case Event::captureProved:
        case Event::takeEnded:
            return same;
        case Event::sessionReleased:
            return idle();
        }
        break;
    case Kind::starting:
        switch (event.kind()) {
        case Event::startClaimed:
            return std::nullopt;
        case Event::startEnded:
            return event.sessionWarm() ? graceIdle() : idle();
        case Event::takeBegan:
            return live(false);
        case Event::captureProved:
        case Event::takeEnded:
        case Event::sessionReleased:
            return same;
        }
        break;
    case Kind::live:
        switch (event.kind()) {
        case Event::startClaimed:
        case Event::takeBegan:
            return std::nullopt;
        case Event::startEnded:
        case Event::sessionReleased:
            return same;
        case Event::captureProved:
            return live(true);
        case Event::takeEnded:
            return graceIdle();
        }
        break;
    case Kind::graceIdle:
        switch (event.kind()) {
        case Event::startClaimed:
            return starting();
        case Event::startEnded:
        case Event::takeBegan:
            return std::nullopt;
        case Event::captureProved:
        case Event::takeEnded:
            return same;
        case Event::sessionReleased:
            return idle();
        }
        break;
    }
    return std::nullopt;
}

} // namespace zq
