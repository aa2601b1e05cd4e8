#include "app/ZEPAquarnAppDelegate.h"

#include "rewards/depth/DepthStore.h"

namespace zq {

ZEPAquarnAppDelegate::ZEPAquarnAppDelegate(DepthStore &depth, QObject *parent)
    : QObject(parent), m_depth(depth), m_colorway(depth.effectiveColorway())
{
    connect(&m_depth, &DepthStore::selectionChanged, this, &ZEPAquarnAppDelegate::followEffectiveColorway);
    connect(&m_depth, &DepthStore::unlockedChanged, this, &ZEPAquarnAppDelegate::followEffectiveColorway);
}

void ZEPAquarnAppDelegate::setWearColorway(std::function<void(Colorway)> action)
{
    m_wearColorway = std::move(action);
    if (m_wearColorway)
        m_wearColorway(m_colorway);
}

void ZEPAquarnAppDelegate::followEffectiveColorway()
{
    const Colorway effective = m_depth.effectiveColorway();
    // Repeats are dropped: choosing a colorway that is not unlocked keeps wearing the same one.
    if (effective == m_colorway)
        return;
    m_colorway = effective;
    if (m_wearColorway)
        m_wearColorway(effective);
}

void ZEPAquarnAppDelegate::applicationWillTerminate()
{
    if (m_prepareToTerminate)
        m_prepareToTerminate();
}

} // namespace zq
