#include "window/recorder/TriggerBindingRecorderModel.h"

#include "pipeline/SettingsDefaults.h"
#include "pipeline/TriggerKey.h"
#include "pipeline/TriggerRecordingGate.h"
#include "runtime/Log.h"

namespace zq {

namespace {

// Whether a recorded binding is the primary trigger pressed again.
bool isPrimaryTrigger(const TriggerBinding &binding, const QString &primaryValue)
{
    // A primary that does not decode acts as Fn, as the global trigger reads it.
    const TriggerBinding primary =
        TriggerBinding::fromStorageValue(primaryValue).value_or(TriggerBinding::predefined(TriggerKey::fn));
    if (binding == primary)
        return true;
    // A press of a predefined modifier is recorded as that modifier key alone.
    const auto *predefined = primary.as<TriggerBinding::Predefined>();
    const auto *modifier = binding.as<TriggerBinding::Modifier>();
    return predefined && modifier && keyCode(predefined->key) == modifier->keyCode;
}

} // namespace

std::vector<TriggerPickerSection> primaryTriggerSections()
{
    TriggerPickerSection modifiers{QStringLiteral("modifiers"), QStringLiteral("Modifier keys"), {}};
    TriggerPickerSection functionKeys{QStringLiteral("function-keys"), QStringLiteral("Function keys"), {}};
    for (TriggerKey key : allTriggerKeys()) {
        const bool isFunctionKey = key >= TriggerKey::f1;
        TriggerPickerSection &section = isFunctionKey ? functionKeys : modifiers;
        // Every key with the keyboard symbol: the command glyph names a key this desktop's keyboards lack.
        section.options.push_back({rawValue(key), displayName(key), QStringLiteral("keyboard")});
    }
    return {modifiers, functionKeys};
}

std::optional<TriggerBinding> secondaryBinding(const QString &secondaryValue)
{
    if (secondaryValue.isEmpty())
        return std::nullopt;
    return TriggerBinding::fromStorageValue(secondaryValue);
}

SecondaryTriggerLook secondaryTriggerLook(const QString &secondaryValue)
{
    const std::optional<TriggerBinding> binding = secondaryBinding(secondaryValue);
    if (!binding)
        return {QStringLiteral("plus"), QStringLiteral("Add trigger…"), QStringLiteral("Record a secondary trigger"),
                false};
    QString symbol;
    switch (binding->kind()) {
    case TriggerBinding::Kind::mouse:
        symbol = QStringLiteral("computermouse");
        break;
    case TriggerBinding::Kind::macro:
        symbol = QStringLiteral("point.3.connected.trianglepath.dotted");
        break;
    default:
        symbol = QStringLiteral("keyboard");
        break;
    }
    return {symbol, binding->displayName(), QStringLiteral("Record again"), true};
}

TriggerBindingRecorderModel::TriggerBindingRecorderModel(rt::MainLoop &loop, StringBinding primaryValue,
                                                         StringBinding secondaryValue, TriggerRecordingGate *gate,
                                                         QObject *parent)
    : QObject(parent), m_primary(std::move(primaryValue)), m_secondary(std::move(secondaryValue)), m_gate(gate),
      m_monitor(loop)
{}

StringBinding settingBinding(rt::Settings &settings, const QString &key, const QString &fallback)
{
    return {[&settings, key, fallback] { return settings.stringValue(key, fallback); },
            [&settings, key](const QString &value) { settings.setValue(key, value); }};
}

TriggerBindingRecorderModel *TriggerBindingRecorderModel::forSettings(rt::MainLoop &loop, rt::Settings &settings,
                                                                      TriggerRecordingGate *gate, QObject *parent)
{
    auto *model =
        new TriggerBindingRecorderModel(loop, settingBinding(settings, keys::triggerKey, QStringLiteral("fn")),
                                        settingBinding(settings, keys::secondaryTriggerKey), gate, parent);
    connect(&settings, &rt::Settings::changed, model, [model](const QString &key) {
        if ((key == keys::triggerKey || key == keys::secondaryTriggerKey) && model->onValuesChanged)
            model->onValuesChanged();
    });
    return model;
}

TriggerBindingRecorderModel::~TriggerBindingRecorderModel()
{
    onRecordingChanged = nullptr;
    cancelRecording();
}

void TriggerBindingRecorderModel::selectPrimary(const QString &rawValue)
{
    if (rawValue == m_primary.get())
        return;
    m_primary.set(rawValue);
    if (onValuesChanged)
        onValuesChanged();
}

void TriggerBindingRecorderModel::startRecording()
{
    setRecording(true);
}

void TriggerBindingRecorderModel::storeCapture(const TriggerBinding &binding)
{
    if (isPrimaryTrigger(binding, m_primary.get())) {
        // The user tapped the trigger itself: a second name for it adds nothing, so recording goes on.
        qCInfo(lcApp) << "trigger recorder: refused" << binding.displayName() << "(the primary trigger)";
        return;
    }
    qCInfo(lcApp) << "trigger recorder: stored" << binding.displayName();
    m_secondary.set(binding.storageValue());
    setRecording(false);
    if (onValuesChanged)
        onValuesChanged();
}

void TriggerBindingRecorderModel::cancelRecording()
{
    setRecording(false);
}

void TriggerBindingRecorderModel::clearSecondary()
{
    m_secondary.set(QString());
    if (onValuesChanged)
        onValuesChanged();
}

void TriggerBindingRecorderModel::setRecording(bool recording)
{
    if (recording == m_isRecording)
        return;
    m_isRecording = recording;
    qCInfo(lcApp) << (recording ? "trigger recorder: recording" : "trigger recorder: stopped");
    m_monitor.setRecording(
        recording, [this](const TriggerBinding &binding) { storeCapture(binding); }, [this] { cancelRecording(); });
    if (m_gate) {
        if (recording)
            m_gate->open();
        else
            m_gate->close();
    }
    if (onRecordingChanged)
        onRecordingChanged(recording);
}

} // namespace zq
