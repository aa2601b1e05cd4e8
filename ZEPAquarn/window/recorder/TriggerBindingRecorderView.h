#pragma once

#include "menubar/brand/Palette.h"
#include "menubar/brand/SymbolButton.h"
#include "menubar/brand/ZepaPopover.h"
#include "platform/PermissionProbe.h"
#include "window/recorder/RecorderEventTranslator.h"
#include "window/recorder/TriggerBindingRecorderModel.h"

#include <QFrame>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QAbstractButton;
class QLabel;

namespace zq {

class ZepaMenuPicker;
class ZepaSpinner;

namespace rt {
class Settings;
} // namespace rt

// What every trigger recorder of the application shares: the main loop, the gate that holds the
// global trigger off while recording, and where the keyboard map comes from (read when a recording
// starts, so a layout changed meanwhile is followed).
struct TriggerRecorderServices {
    rt::MainLoop &loop;
    TriggerRecordingGate *gate = nullptr;
    std::function<std::optional<platform::KeyboardMap>()> keyboardMap;
};

// The recorder of the settings "triggerKey" and "secondaryTriggerKey", following changes made to them
// elsewhere, with its model as its child.
class TriggerBindingRecorderView;
TriggerBindingRecorderView *makeSettingsTriggerRecorder(const TriggerRecorderServices &services, rt::Settings &settings,
                                                        QWidget *parent = nullptr);

// The trigger recorder: the primary trigger picker and the secondary trigger's record and clear
// buttons. Recording opens a popup that takes the application's keys and side buttons until a trigger
// is captured, Escape is pressed, or the popup closes.
class TriggerBindingRecorderView : public QWidget {
    Q_OBJECT
public:
    // Observes the model without owning it; a model made for this recorder alone is made its child.
    // `keyboardMap` is read when a recording starts.
    TriggerBindingRecorderView(TriggerBindingRecorderModel &model,
                               std::function<std::optional<platform::KeyboardMap>()> keyboardMap,
                               QWidget *parent = nullptr);
    ~TriggerBindingRecorderView() override;

    TriggerBindingRecorderModel &model() { return *m_model; }
    // Reads both values again (they changed elsewhere).
    void refresh();

    ZepaMenuPicker *primaryPicker() const { return m_picker; }
    QAbstractButton *recordButton() const { return m_record; }
    SymbolButton *clearButton() const { return m_clear; }
    // The recording popover, below the recorder; shown while recording.
    ZepaPopover *popup() const { return m_popup; }
    ZepaSpinner *spinner() const { return m_spinner; }

protected:
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void buildPopup();
    void applyColors();
    void showPopup(bool recording);

    std::function<std::optional<platform::KeyboardMap>()> m_keyboardMap;
    TriggerBindingRecorderModel *m_model;
    RecorderEventTranslator m_translator;
    ZepaMenuPicker *m_picker = nullptr;
    QAbstractButton *m_record = nullptr;
    SymbolButton *m_clear = nullptr;
    ZepaPopover *m_popup = nullptr;
    ZepaSpinner *m_spinner = nullptr;
    QLabel *m_plus = nullptr;
    // The texts and the colour token each is drawn in.
    std::vector<std::pair<QWidget *, Palette::Token>> m_textColors;
    bool m_filtering = false;
};

} // namespace zq
