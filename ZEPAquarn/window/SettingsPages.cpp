#include "window/SettingsPages.h"

#include "menubar/brand/BrandFont.h"
#include "menubar/brand/ControlWell.h"
#include "menubar/brand/SymbolCatalogue.h"
#include "menubar/brand/ZepaButton.h"
#include "window/AppAppearance.h"
#include "window/AppSettingsModel.h"
#include "window/KeyHelpPopover.h"
#include "window/SegmentedPicker.h"
#include "window/SettingsControls.h"
#include "window/SettingsPageText.h"
#include "window/SettingsRows.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <tuple>

namespace zq {

namespace {

// A page: a column of sections 28 apart, refreshed from the model.
class Page : public QWidget {
public:
    Page(AppSettingsModel &model, QWidget *parent) : QWidget(parent), m_column(new QVBoxLayout(this))
    {
        m_column->setContentsMargins(0, 0, 0, 0);
        m_column->setSpacing(28);
        connect(&model, &AppSettingsModel::stateChanged, this, [this] { refresh(); });
    }

    SettingsSection *addSection(const QString &title, const std::optional<QString> &detail = std::nullopt)
    {
        auto *section = new SettingsSection(title, detail, this);
        m_column->addWidget(section);
        return section;
    }

    void addRefresh(std::function<void()> step) { m_steps.push_back(std::move(step)); }
    void refresh()
    {
        for (const auto &step : m_steps)
            step();
    }

private:
    QVBoxLayout *m_column;
    std::vector<std::function<void()>> m_steps;
};

void buildGeneral(Page &page, AppSettingsModel &model, const SettingsPageHosts &hosts)
{
    SettingsSection *behavior = page.addSection(QStringLiteral("Behavior"));

    // Trigger: the recorder sits under the row, aligned with the row titles.
    auto *trigger = new QWidget;
    auto *triggerColumn = new QVBoxLayout(trigger);
    triggerColumn->setContentsMargins(0, 0, 0, 0);
    triggerColumn->setSpacing(8);
    triggerColumn->addWidget(
        new SettingsRow(QStringLiteral("keyboard"), QStringLiteral("Trigger"),
                        QStringLiteral("Keep a primary preset and optionally add a keyboard, macro, or mouse trigger."),
                        nullptr, trigger));
    if (hosts.triggerRecorder) {
        auto *recorderPlace = new QWidget(trigger);
        auto *recorderLayout = new QVBoxLayout(recorderPlace);
        recorderLayout->setContentsMargins(42, 0, 4, 10);
        recorderLayout->addWidget(hosts.triggerRecorder(recorderPlace));
        triggerColumn->addWidget(recorderPlace);
    }
    behavior->add(trigger);
    behavior->add(new SettingsDivider);

    auto *launchSwitch =
        makeSwitch(QStringLiteral("Launch at login"), [&model](bool on) { model.setLaunchAtLogin(on); });
    auto *launch = new SettingsRow(QStringLiteral("power"), QStringLiteral("Launch at login"), QString(), launchSwitch);
    behavior->add(launch);
    page.addRefresh([&model, launch, launchSwitch] {
        setSwitch(launchSwitch, model.launchAtLogin());
        launch->setDetail(model.launchAtLoginError());
    });
    behavior->add(new SettingsDivider);

    auto *cuesSwitch = makeSwitch(QStringLiteral("Sound cues"), [&model](bool on) { model.setSoundCues(on); });
    behavior->add(new SettingsRow(
        QStringLiteral("speaker.wave.2"), QStringLiteral("Sound cues"),
        QStringLiteral("A soft cue when listening starts, another when your take is captured."), cuesSwitch));
    page.addRefresh([&model, cuesSwitch] { setSwitch(cuesSwitch, model.soundCues()); });
    behavior->add(new SettingsDivider);

    auto *audioPicker = new SettingsPicker(
        QStringLiteral("Background audio"), backgroundAudioChoices(), 180,
        backgroundAudioSymbol(model.audioDuringDictation()), [&model] { return model.audioDuringDictation(); },
        [&model](const QString &value) { model.setAudioDuringDictation(value); });
    auto *background =
        new SettingsRow(QStringLiteral("music.note"), QStringLiteral("Background audio"), QString(), audioPicker);
    behavior->add(background);
    page.addRefresh([&model, background, audioPicker] {
        const QString mode = model.audioDuringDictation();
        background->setDetail(backgroundAudioDetail(mode));
        audioPicker->setLeadingSymbol(backgroundAudioSymbol(mode));
        audioPicker->refresh();
    });
    behavior->add(new SettingsDivider);

    auto *dockSwitch = makeSwitch(QStringLiteral("Show in taskbar"), [&model](bool on) { model.setShowInDock(on); });
    behavior->add(new SettingsRow(QStringLiteral("dock.rectangle"), QStringLiteral("Show in taskbar"),
                                  QStringLiteral("Off by default. Turn on for the taskbar and the window switcher."),
                                  dockSwitch));
    page.addRefresh([&model, dockSwitch] { setSwitch(dockSwitch, model.showInDock()); });

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

void buildAudio(Page &page, AppSettingsModel &model)
{
    SettingsSection *microphone =
        page.addSection(QStringLiteral("Microphone"), QStringLiteral("Automatic follows the desktop's current input."));

    auto *inputPicker = new SettingsPicker(
        QStringLiteral("Input"), inputPickerChoices({}), 290, QStringLiteral("mic"),
        [&model] { return model.inputDevice(); }, [&model](const QString &uid) { model.setInputDevice(uid); });
    auto *input = new SettingsRow(QStringLiteral("mic"), QStringLiteral("Input"), QString(), inputPicker);
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
        test->setDetail(model.micTestResult());
    });
}

void buildTranscription(Page &page, AppSettingsModel &model)
{
    SettingsSection *engine = page.addSection(
        QStringLiteral("Engine"), QStringLiteral("On-device is private and free. OpenAI uses your own key."));
    auto *enginePicker = new SettingsPicker(
        QStringLiteral("Engine"), engineChoices(), 180, engineSymbol(model.backend()),
        [&model] { return model.backend(); }, [&model](const QString &value) { model.setBackend(value); });
    engine->add(new SettingsRow(QStringLiteral("cpu"), QStringLiteral("Engine"), QString(), enginePicker));

    // On-device: two questions about languages.
    auto *localRows = new QWidget;
    auto *localColumn = new QVBoxLayout(localRows);
    localColumn->setContentsMargins(0, 0, 0, 0);
    localColumn->setSpacing(0);
    for (const auto &question : onDeviceLanguageQuestions()) {
        localColumn->addWidget(new SettingsDivider(localRows));
        localColumn->addWidget(new SettingsFAQRow(question.question, question.answer, localRows));
    }
    engine->add(localRows);

    // OpenAI: the key and its test.
    auto *keyRows = new QWidget;
    auto *keyColumn = new QVBoxLayout(keyRows);
    keyColumn->setContentsMargins(0, 0, 0, 0);
    keyColumn->setSpacing(0);
    auto *keyControls = new QWidget(keyRows);
    auto *keyLine = new QHBoxLayout(keyControls);
    keyLine->setContentsMargins(0, 0, 0, 0);
    keyLine->setSpacing(8);
    auto *keyField = new QLineEdit(keyControls);
    keyField->setObjectName(QStringLiteral("apiKeyField"));
    keyField->setEchoMode(QLineEdit::Password);
    keyField->setPlaceholderText(QString::fromUtf8("sk-…"));
    keyField->setFixedWidth(260);
    keyField->setFont(brandFont(BrandWeight::regular, 12));
    keyField->setAccessibleName(QStringLiteral("API key"));
    QObject::connect(keyField, &QLineEdit::textEdited, keyField,
                     [&model](const QString &text) { model.setAPIKey(text); });
    keyLine->addWidget(keyField);
    auto *help = new QToolButton(keyControls);
    help->setObjectName(QStringLiteral("apiKeyHelpButton"));
    help->setIcon(QIcon(SymbolCatalogue::pixmap(u"questionmark.circle", QSizeF(12, 12),
                                                Palette::color(Palette::textSecondary, colorSchemeOf(*help)),
                                                help->devicePixelRatioF())));
    help->setAutoRaise(true);
    help->setToolTip(QStringLiteral("How to get an OpenAI API key"));
    help->setAccessibleName(QStringLiteral("How to get an OpenAI API key"));
    QObject::connect(help, &QToolButton::clicked, help, [&model] { model.setShowKeyHelp(!model.showKeyHelp()); });
    keyLine->addWidget(help);
    keyColumn->addWidget(new SettingsDivider(keyRows));
    keyColumn->addWidget(new SettingsRow(QStringLiteral("key"), QStringLiteral("API key"),
                                         QStringLiteral("Stored in the desktop's keyring."), keyControls, keyRows));
    keyColumn->addWidget(new SettingsDivider(keyRows));
    auto *run = new RunTestControl([&model] { model.runKeyTest(); });
    auto *keyTest =
        new SettingsRow(QStringLiteral("checkmark.seal"), QStringLiteral("Test API key"), QString(), run, keyRows);
    keyColumn->addWidget(keyTest);
    engine->add(keyRows);

    auto *popover = new KeyHelpPopover(help, model);
    page.addRefresh([&model, enginePicker, localRows, keyRows, keyField, keyTest, run, popover] {
        enginePicker->setLeadingSymbol(engineSymbol(model.backend()));
        enginePicker->refresh();
        localRows->setVisible(!model.usesOpenAI());
        keyRows->setVisible(model.usesOpenAI());
        if (keyField->text() != model.apiKey() && !keyField->hasFocus())
            keyField->setText(model.apiKey());
        run->setRunning(model.keyTesting());
        keyTest->setDetail(model.keyTestResult());
        popover->setOpen(model.showKeyHelp() && model.usesOpenAI());
    });

    SettingsSection *output = page.addSection(QStringLiteral("Output"));
    auto *languagePicker = new SettingsPicker(
        QStringLiteral("Language"), model.languageChoices(), 190, QStringLiteral("globe"),
        [&model] { return model.language(); }, [&model](const QString &value) { model.setLanguage(value); });
    output->add(new SettingsRow(QStringLiteral("globe"), QStringLiteral("Language"), QString(), languagePicker));

    auto *noteRows = new QWidget;
    auto *noteColumn = new QVBoxLayout(noteRows);
    noteColumn->setContentsMargins(0, 0, 0, 0);
    noteColumn->setSpacing(0);
    auto *useOpenAI = new ZepaButton(ZepaButtonStyle::quiet, QStringLiteral("Use OpenAI"), {}, noteRows);
    QObject::connect(useOpenAI, &QAbstractButton::clicked, useOpenAI, [&model] { model.useOpenAI(); });
    noteColumn->addWidget(new SettingsDivider(noteRows));
    auto *note = new SettingsRow(QStringLiteral("lightbulb"), QString(), QString(), useOpenAI, noteRows);
    noteColumn->addWidget(note);
    output->add(noteRows);
    output->add(new SettingsDivider);

    auto *cleanupControls = new QWidget;
    auto *cleanupLine = new QHBoxLayout(cleanupControls);
    cleanupLine->setContentsMargins(0, 0, 0, 0);
    auto *included = new StyledLabel(QStringLiteral("Included"), textStyle::value, cleanupControls);
    cleanupLine->addWidget(included);
    auto *cleanupSwitch = makeSwitch(QStringLiteral("AI cleanup"), [&model](bool on) { model.setCleanupEnabled(on); });
    cleanupSwitch->setParent(cleanupControls);
    cleanupLine->addWidget(cleanupSwitch);
    auto *cleanup =
        new SettingsRow(QStringLiteral("wand.and.stars"), QStringLiteral("AI cleanup"), QString(), cleanupControls);
    output->add(cleanup);

    page.addRefresh([&model, languagePicker, noteRows, note, included, cleanupSwitch, cleanup] {
        languagePicker->setChoices(model.languageChoices());
        languagePicker->refresh();
        const std::optional<LanguageNote> unsupported = model.unsupportedLanguageNote();
        noteRows->setVisible(unsupported.has_value());
        if (unsupported) {
            note->titleLabel()->setText(unsupported->title);
            note->setDetail(unsupported->detail);
        }
        included->setVisible(model.usesOpenAI());
        cleanupSwitch->setVisible(!model.usesOpenAI());
        setSwitch(cleanupSwitch, model.cleanupEnabled());
        cleanup->setDetail(model.cleanupDetail());
    });
}

// The dictionary editor's field: a control well with the editor 8 in from its edge, on the editor's
// own transparent background.
class EditorField : public ControlWell {
public:
    explicit EditorField(QWidget *parent) : ControlWell(parent)
    {
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(8, 8, 8, 8);
    }
};

void buildDictionary(Page &page, AppSettingsModel &model)
{
    SettingsSection *vocabulary = page.addSection(
        QStringLiteral("Custom vocabulary"), QStringLiteral("Names and jargon ZEPA QUARN should spell correctly."));
    auto *body = new QWidget;
    auto *column = new QVBoxLayout(body);
    column->setContentsMargins(0, 10, 0, 10);
    column->setSpacing(8);
    auto *field = new EditorField(body);
    field->setMinimumHeight(180);
    auto *editor = new QPlainTextEdit(field);
    field->layout()->addWidget(editor);
    editor->setObjectName(QStringLiteral("dictionaryEditor"));
    editor->setFrameShape(QFrame::NoFrame);
    editor->viewport()->setAutoFillBackground(false);
    editor->setAutoFillBackground(false);
    editor->setStyleSheet(QStringLiteral("QPlainTextEdit { background: transparent; }"));
    editor->setFont(brandFont(BrandWeight::regular, 12));
    editor->setPlainText(model.dictionaryText());
    editor->setAccessibleName(QStringLiteral("Custom vocabulary"));
    QObject::connect(editor, &QPlainTextEdit::textChanged, editor,
                     [&model, editor] { model.setDictionaryText(editor->toPlainText()); });
    column->addWidget(field);
    column->addWidget(new StyledLabel(QStringLiteral("One word or phrase per line"), textStyle::small, body));
    vocabulary->add(body);
}

void buildFAQ(Page &page, const AppSettingsModel &model)
{
    for (const auto &group : faqGroups(model.triggerNamesInForce())) {
        SettingsSection *section = page.addSection(group.title);
        bool first = true;
        for (const auto &question : group.questions) {
            if (!first)
                section->add(new SettingsDivider);
            first = false;
            section->add(new SettingsFAQRow(question.question, question.answer));
        }
    }
}

} // namespace

QWidget *makeSettingsPage(AppWindowSection section, AppSettingsModel &model, const SettingsPageHosts &hosts,
                          QWidget *parent)
{
    if (section == AppWindowSection::support && hosts.support)
        return hosts.support(parent);
    auto *page = new Page(model, parent);
    page->setObjectName(QStringLiteral("settingsPage-") + rawValue(section));
    switch (section) {
    case AppWindowSection::general:
        buildGeneral(*page, model, hosts);
        break;
    case AppWindowSection::audio:
        buildAudio(*page, model);
        break;
    case AppWindowSection::transcription:
        buildTranscription(*page, model);
        break;
    case AppWindowSection::dictionary:
        buildDictionary(*page, model);
        break;
    case AppWindowSection::faq:
        buildFAQ(*page, model);
        break;
    case AppWindowSection::stats:
    case AppWindowSection::history:
    case AppWindowSection::support:
        break;
    }
    page->refresh();
    return page;
}

} // namespace zq
