#pragma once

#include "pipeline/Colorway.h"
#include "runtime/Settings.h"

#include <QObject>

#include <set>
#include <vector>

namespace zq {

// The depth tiers that unlock colorways, by their stored numbers.
enum class DepthTier { shallows = 1, twilight = 2, abyss = 3 };

// The unlocked tiers and the chosen colorway, over the settings "depthUnlocked" and
// "depthSelection", and the colorway to wear. The invite progress that unlocks tiers is fetched by
// the invite service, which this store does not talk to yet.
class DepthStore : public QObject {
    Q_OBJECT
public:
    explicit DepthStore(rt::Settings &settings, QObject *parent = nullptr);

    Colorway selection() const { return m_selection; }
    // Stored at once; a colorway that is not available is kept and worn once its tier unlocks.
    void setSelection(Colorway colorway);
    const std::set<DepthTier> &unlocked() const { return m_unlocked; }

    // The default skin first, then each unlocked tier's colorways in tier order.
    static std::vector<Colorway> availableColorways(const std::set<DepthTier> &unlocked);
    static Colorway effectiveColorway(Colorway selection, const std::set<DepthTier> &unlocked);
    Colorway effectiveColorway() const { return effectiveColorway(m_selection, m_unlocked); }

signals:
    void selectionChanged(Colorway selection);
    void unlockedChanged();

private:
    rt::Settings &m_settings;
    Colorway m_selection = Colorway::consensusMint;
    std::set<DepthTier> m_unlocked;
};

} // namespace zq
