#pragma once

#include "pipeline/TriggerBinding.h"
#include "window/recorder/TriggerBindingCaptureMonitor.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace zq {

class TriggerRecordingGate;
namespace rt {
class Settings;
} // namespace rt

// A string value the recorder reads and writes, kept by its creator (a setting, usually).
struct StringBinding {
    std::function<QString()> get;
    std::function<void(const QString &)> set;
};

// A string setting as a recorder value.
StringBinding settingBinding(rt::Settings &settings, const QString &key, const QString &fallback = {});

// One option of the primary trigger picker.
struct TriggerPickerOption {
    QString value; // the TriggerKey raw value
    QString label;
    QString symbol;
};
struct TriggerPickerSection {
    QString id;
    QString title;
    std::vector<TriggerPickerOption> options;
};

// How the secondary column shows the stored secondary trigger.
struct SecondaryTriggerLook {
    QString symbol;
    QString text;
    QString tooltip;
    bool showsClear = false;
};

// The primary trigger picker's two sections: the modifier keys, then F1 to F20.
std::vector<TriggerPickerSection> primaryTriggerSections();
// The secondary binding a stored value stands for: none for "" and for text that does not decode.
std::optional<TriggerBinding> secondaryBinding(const QString &secondaryValue);
SecondaryTriggerLook secondaryTriggerLook(const QString &secondaryValue);

// The trigger recorder without its widgets: the primary trigger picked from the predefined keys, the
// secondary recorded from what the user presses. It writes plain strings through its two bindings
// and knows nothing of where they are kept. Recording ends with a capture, Escape, the close button or
// the recorder going away; only a capture changes the secondary value, and never to the primary trigger.
// Main thread only.
class TriggerBindingRecorderModel : public QObject {
    Q_OBJECT
public:
    // `gate` (may be null) is held open while recording, so the global trigger ignores the keys.
    TriggerBindingRecorderModel(rt::MainLoop &loop, StringBinding primaryValue, StringBinding secondaryValue,
                                TriggerRecordingGate *gate = nullptr, QObject *parent = nullptr);
    ~TriggerBindingRecorderModel() override;

    // A recorder of the settings "triggerKey" and "secondaryTriggerKey" that also reports changes
    // made to them elsewhere (another recorder, the start-up migration) through onValuesChanged.
    static TriggerBindingRecorderModel *forSettings(rt::MainLoop &loop, rt::Settings &settings,
                                                    TriggerRecordingGate *gate, QObject *parent = nullptr);

    QString primaryValue() const { return m_primary.get(); }
    QString secondaryValue() const { return m_secondary.get(); }
    // The picker's choice.
    void selectPrimary(const QString &rawValue);

    bool isRecording() const { return m_isRecording; }
    // The record button.
    void startRecording();
    // A capture: stores the binding's storage string and ends recording; the primary trigger itself is
    // refused and recording goes on.
    void storeCapture(const TriggerBinding &binding);
    // Escape, the close button, the popup closing, the recorder going away: the values stay.
    void cancelRecording();
    // The clear button.
    void clearSecondary();

    // The events seen while recording; true when used up.
    bool handle(const TriggerEvent &event) { return m_monitor.handle(event); }

    // Runs after every change of the recording state (the view opens or closes its popup).
    std::function<void(bool recording)> onRecordingChanged;
    // Runs after the recorder wrote a value (and, made for the settings, after they changed).
    std::function<void()> onValuesChanged;

private:
    void setRecording(bool recording);

    StringBinding m_primary;
    StringBinding m_secondary;
    TriggerRecordingGate *m_gate;
    bool m_isRecording = false;
    TriggerBindingCaptureMonitor m_monitor;
};

} // namespace zq
