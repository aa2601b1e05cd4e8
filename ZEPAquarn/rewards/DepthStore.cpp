#include "rewards/DepthStore.h"

#include <algorithm>

namespace zq {

namespace {

const QString kUnlockedKey = QStringLiteral("depthUnlocked");
const QString kSelectionKey = QStringLiteral("depthSelection");

std::vector<Colorway> colorwaysOf(DepthTier tier)
{
    switch (tier) {
    case DepthTier::shallows:
        return {Colorway::signalPurple};
    case DepthTier::twilight:
        return {Colorway::agentTeal, Colorway::deepOrbit};
    case DepthTier::abyss:
        return {Colorway::systemGray, Colorway::monochrome};
    }
    return {};
}

} // namespace

DepthStore::DepthStore(rt::Settings &settings, QObject *parent) : QObject(parent), m_settings(settings)
{
    // Only a list of integers counts; unknown tier numbers are dropped.
    if (const auto stored = m_settings.value(kUnlockedKey); stored && std::holds_alternative<QList<qint64>>(*stored)) {
        for (qint64 raw : std::get<QList<qint64>>(*stored)) {
            if (raw >= 1 && raw <= 3)
                m_unlocked.insert(static_cast<DepthTier>(raw));
        }
    }
    m_selection = colorwayFromRawValue(m_settings.stringValue(kSelectionKey)).value_or(Colorway::consensusMint);
}

void DepthStore::setSelection(Colorway colorway)
{
    m_settings.setValue(kSelectionKey, rawValue(colorway));
    if (m_selection == colorway)
        return;
    m_selection = colorway;
    emit selectionChanged(colorway);
}

std::vector<Colorway> DepthStore::availableColorways(const std::set<DepthTier> &unlocked)
{
    std::vector<Colorway> result{Colorway::consensusMint};
    for (DepthTier tier : {DepthTier::shallows, DepthTier::twilight, DepthTier::abyss}) {
        if (unlocked.count(tier)) {
            for (Colorway colorway : colorwaysOf(tier))
                result.push_back(colorway);
        }
    }
    return result;
}

Colorway DepthStore::effectiveColorway(Colorway selection, const std::set<DepthTier> &unlocked)
{
    const auto available = availableColorways(unlocked);
    return std::find(available.begin(), available.end(), selection) != available.end() ? selection
                                                                                       : Colorway::consensusMint;
}

} // namespace zq
