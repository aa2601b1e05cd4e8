#pragma once

#include "pipeline/Colorway.h"

#include <QObject>

#include <functional>

namespace zq {

class DepthStore;

// The application's launch and termination hooks, and the colorway the application wears: the depth
// store's effective colorway, followed as the selection and the unlocked tiers change.
class ZEPAquarnAppDelegate : public QObject {
    Q_OBJECT
public:
    explicit ZEPAquarnAppDelegate(DepthStore &depth, QObject *parent = nullptr);

    DepthStore &depth() const { return m_depth; }
    Colorway colorway() const { return m_colorway; }

    // Installed when the tray icon first appears; run at termination.
    void setPrepareToTerminate(std::function<void()> action) { m_prepareToTerminate = std::move(action); }
    // Installed with the tray icon too; installing it runs it at once with the current colorway.
    void setWearColorway(std::function<void(Colorway)> action);

    void applicationWillTerminate();

private:
    void followEffectiveColorway();

    DepthStore &m_depth;
    Colorway m_colorway;
    std::function<void()> m_prepareToTerminate;
    std::function<void(Colorway)> m_wearColorway;
};

} // namespace zq
