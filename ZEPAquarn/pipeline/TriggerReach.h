#pragma once

#include "pipeline/TriggerBinding.h"
#include "platform/PermissionProbe.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace zq {

namespace rt {
class Settings;
} // namespace rt

// Whether the binding waits for the Fn key (the predefined Fn key).
bool needsFnKey(const TriggerBinding &binding);

// The triggers in force that can reach the application: the primary, then the secondary when there is
// one, without those that need an Fn key the keyboard map does not give. Empty: no key starts a take.
std::vector<TriggerBinding> triggersSeen(const TriggerBinding &primary, const std::optional<TriggerBinding> &secondary,
                                         bool fnKeyMapped);
// The same from the stored values, read as the hotkey tap reads them.
std::vector<TriggerBinding> triggersSeen(const rt::Settings &settings, bool fnKeyMapped);

// "Right Control", or "Right Control or F8"; empty for none.
QString triggerNames(const std::vector<TriggerBinding> &triggers);

// The primary trigger of a profile that has not stored one. Fn where the keyboard map gives it; else
// the first of Right Control, Right Alt and Right Super that this keyboard has: keys held alone for
// nothing else, which Fn-less desktops' push-to-talk tools commonly use. Fn when nothing is known.
TriggerKey defaultTriggerKey(const std::optional<platform::KeyboardMap> &keyboard);

// Whether the triggers in force can start a take on this desktop, for the places that warn when they
// cannot (the tray icon, the menu panel, the one notice per launch). The trigger settings are followed as
// they change; the keyboard map is read at construction and again by refresh(). Without a reader
// nothing is known of the keyboard and Fn counts as seen. Main thread only.
class TriggerReach : public QObject {
    Q_OBJECT
public:
    using KeyboardReader = std::function<std::optional<platform::KeyboardMap>()>;

    TriggerReach(rt::Settings &settings, KeyboardReader readKeyboard, QObject *parent = nullptr);

    bool fnKeyMapped() const { return m_fnKeyMapped; }
    std::vector<TriggerBinding> seen() const;
    bool canStartTake() const { return !seen().empty(); }

    // Reads the keyboard map again (a layout may have changed since).
    void refresh();

signals:
    // The answer of canStartTake() or seen() may have changed.
    void changed();

private:
    rt::Settings &m_settings;
    KeyboardReader m_readKeyboard;
    bool m_fnKeyMapped = false;
};

} // namespace zq
