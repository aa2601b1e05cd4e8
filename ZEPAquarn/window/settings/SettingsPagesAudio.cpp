#include "window/settings/SettingsPages.h"

#include "window/settings/AppSettingsModel.h"
#include "window/settings/SettingsControls.h"
#include "window/settings/SettingsPage.h"
#include "window/settings/SettingsPageText.h"
#include "window/settings/SettingsRows.h"

#include <QAbstractButton>

namespace zq {

void buildAudioPage(SettingsPage &page, AppSettingsModel &model, const SettingsPageHosts &)
{
    SettingsSection *microphone =
        page.addSection(QStringLiteral("Microphone"), QStringLiteral("Automatic follows the desktop's current input."));

    auto *inputPicker = new SettingsPicker(
        QStringLiteral("Input"), inputPickerChoices({}), 290, QStringLiteral("mic"),
        [&model] { return model.inputDevice(); }, [&model](const QString &uid) { model.setInputDevice(uid); });
    auto *input = new SettingsRow(QStringLiteral("mic"), QStringLiteral("Input"), QString(), inputPicker);
    // The hint beside the wide picker needs a third line at the window's usual width: it is shown
    // whole, never cut short of its advice.
    input->detailLabel()->setMaximumLines(0);
    microphone->add(input);
    page.addRefresh([&model, input, inputPicker] {
        inputPicker->setChoices(inputPickerChoices(model.inputDevices()));
        inputPicker->refresh();
        input->setDetail(inputHint(model.inputDevice(), model.inputDevices()));
    });
    microphone->add(new SettingsDivider);

    auto *alwaysOnSwitch = makeSwitch(QStringLiteral("Always-on Bluetooth microphone"),
                                      [&model](bool on) { model.setAlwaysOnBluetooth(on); });
    microphone->add(
        new SettingsRow(QStringLiteral("bolt.badge.checkmark"), QStringLiteral("Always-on Bluetooth microphone"),
                        QString::fromUtf8("Keeps the mic claimed after your first dictation so your trigger "
                                          "starts instantly. Bluetooth only — built-in and wired mics "
                                          "always release on their own."),
                        alwaysOnSwitch));
    page.addRefresh([&model, alwaysOnSwitch] { setSwitch(alwaysOnSwitch, model.alwaysOnBluetooth()); });

    for (const auto &question : alwaysOnQuestions()) {
        microphone->add(new SettingsDivider);
        microphone->add(new SettingsFAQRow(question.question, question.answer));
    }
    microphone->add(new SettingsDivider);

    auto *run = new RunTestControl([&model] { model.runMicTest(); });
    auto *test = new SettingsRow(QStringLiteral("waveform"), QStringLiteral("Test microphone"), QString(), run);
    microphone->add(test);
    page.addRefresh([&model, test, run] {
        run->setRunning(model.micTesting());
        run->setRunnable(model.canRunMicTest());
        test->setStatus(model.micTestResult());
    });
}

} // namespace zq
