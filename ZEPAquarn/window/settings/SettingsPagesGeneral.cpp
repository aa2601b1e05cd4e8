#include "window/settings/SettingsPages.h"

#include "window/AppAppearance.h"
#include "window/settings/AppSettingsModel.h"
#include "window/settings/SegmentedPicker.h"
#include "window/settings/SettingsControls.h"
#include "window/settings/SettingsPage.h"
#include "window/settings/SettingsPageText.h"
#include "window/settings/SettingsRows.h"

#include <QAbstractButton>
#include <QVBoxLayout>

#include <tuple>

namespace zq {

namespace {

// Trigger: the recorder sits under the row, aligned with the row titles.
QWidget *makeTriggerRows(SettingsPage &page, AppSettingsModel &model, const SettingsPageHosts &hosts)
{
    auto *trigger = new QWidget;
    auto *triggerColumn = new QVBoxLayout(trigger);
    triggerColumn->setContentsMargins(0, 0, 0, 0);
    triggerColumn->setSpacing(8);
    const QString detail =
        QStringLiteral("Keep a primary preset and optionally add a keyboard, macro, or mouse trigger.");
    auto *row = new SettingsRow(QStringLiteral("keyboard"), QStringLiteral("Trigger"), detail, nullptr, trigger);
    triggerColumn->addWidget(row);
    // A primary key this desktop never delivers says so where it is chosen ("Choose Key" leads here).
    page.addRefresh([&model, row, detail] {
        const RowStatus note = model.triggerNote();
        if (note.isEmpty())
            row->setDetail(detail);
        else
            row->setStatus(note);
    });
    if (hosts.triggerRecorder) {
        auto *recorderPlace = new QWidget(trigger);
        auto *recorderLayout = new QVBoxLayout(recorderPlace);
        recorderLayout->setContentsMargins(42, 0, 4, 10);
        recorderLayout->addWidget(hosts.triggerRecorder(recorderPlace));
        triggerColumn->addWidget(recorderPlace);
    }
    return trigger;
}

SettingsRow *makeBackgroundAudioRow(SettingsPage &page, AppSettingsModel &model)
{
    auto *audioPicker = new SettingsPicker(
        QStringLiteral("Background audio"), backgroundAudioChoices(), 180,
        backgroundAudioSymbol(model.audioDuringDictation()), [&model] { return model.audioDuringDictation(); },
        [&model](const QString &value) { model.setAudioDuringDictation(value); });
    auto *background =
        new SettingsRow(QStringLiteral("music.note"), QStringLiteral("Background audio"), QString(), audioPicker);
    page.addRefresh([&model, background, audioPicker] {
        const QString mode = model.audioDuringDictation();
        background->setDetail(backgroundAudioDetail(mode));
        audioPicker->setLeadingSymbol(backgroundAudioSymbol(mode));
        audioPicker->refresh();
    });
    return background;
}

void addBehaviorSection(SettingsPage &page, AppSettingsModel &model, const SettingsPageHosts &hosts)
{
    SettingsSection *behavior = page.addSection(QStringLiteral("Behavior"));
    behavior->add(makeTriggerRows(page, model, hosts));
    behavior->add(new SettingsDivider);

    auto *launchSwitch =
        makeSwitch(QStringLiteral("Launch at login"), [&model](bool on) { model.setLaunchAtLogin(on); });
    auto *launch = new SettingsRow(QStringLiteral("power"), QStringLiteral("Launch at login"), QString(), launchSwitch);
    behavior->add(launch);
    page.addRefresh([&model, launch, launchSwitch] {
        setSwitch(launchSwitch, model.launchAtLogin());
        launch->setStatus(model.launchAtLoginError());
    });
    behavior->add(new SettingsDivider);

    auto *cuesSwitch = makeSwitch(QStringLiteral("Sound cues"), [&model](bool on) { model.setSoundCues(on); });
    behavior->add(new SettingsRow(
        QStringLiteral("speaker.wave.2"), QStringLiteral("Sound cues"),
        QStringLiteral("A soft cue when listening starts, another when your take is captured."), cuesSwitch));
    page.addRefresh([&model, cuesSwitch] { setSwitch(cuesSwitch, model.soundCues()); });
    behavior->add(new SettingsDivider);

    behavior->add(makeBackgroundAudioRow(page, model));
    behavior->add(new SettingsDivider);

    auto *dockSwitch = makeSwitch(QStringLiteral("Show in taskbar"), [&model](bool on) { model.setShowInDock(on); });
    behavior->add(new SettingsRow(QStringLiteral("dock.rectangle"), QStringLiteral("Show in taskbar"),
                                  QStringLiteral("Off by default. Turn on for the taskbar and the window switcher."),
                                  dockSwitch));
    page.addRefresh([&model, dockSwitch] { setSwitch(dockSwitch, model.showInDock()); });
}

void addAppearanceSection(SettingsPage &page, AppSettingsModel &model, const SettingsPageHosts &hosts)
{
    SettingsSection *appearance = page.addSection(
        QStringLiteral("Appearance"), QStringLiteral("Choose how ZEPA QUARN looks and responds while listening."));
    std::vector<Segment> themes;
    for (const auto &[value, label, symbol] :
         {std::tuple{AppAppearance::system, "System", "circle.lefthalf.filled"},
          std::tuple{AppAppearance::light, "Light", "sun.max"}, std::tuple{AppAppearance::dark, "Dark", "moon"}})
        themes.push_back({rawValue(value), QString::fromLatin1(label), QString::fromLatin1(symbol)});
    auto *segments = new SegmentedPicker(
        std::move(themes), 280, [&model] { return model.appearance(); },
        [&model](const QString &raw) { model.setAppearance(raw); });
    segments->setObjectName(QStringLiteral("themePicker"));
    segments->setAccessibleName(QStringLiteral("Theme"));
    page.addRefresh([segments] { segments->refresh(); });
    appearance->add(
        new SettingsRow(QStringLiteral("circle.lefthalf.filled"), QStringLiteral("Theme"), QString(), segments));
    if (hosts.animationGallery) {
        appearance->add(new SettingsDivider);
        appearance->add(hosts.animationGallery(appearance));
    }
    if (hosts.depthGauge) {
        appearance->add(new SettingsDivider);
        appearance->add(hosts.depthGauge(appearance));
    }
}

} // namespace

void buildGeneralPage(SettingsPage &page, AppSettingsModel &model, const SettingsPageHosts &hosts)
{
    addBehaviorSection(page, model, hosts);
    addAppearanceSection(page, model, hosts);
}

} // namespace zq
