#include "window/settings/SettingsPages.h"

#include "menubar/brand/Palette.h"
#include "menubar/brand/SymbolButton.h"
#include "menubar/brand/SymbolCatalogue.h"
#include "menubar/brand/Typography.h"
#include "menubar/brand/ZepaButton.h"
#include "window/settings/AppSettingsModel.h"
#include "window/settings/KeyHelpPopover.h"
#include "window/settings/SettingsControls.h"
#include "window/settings/SettingsPage.h"
#include "window/settings/SettingsPageText.h"
#include "window/settings/SettingsRows.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include <functional>

namespace zq {

namespace {

// A column of rows shown or hidden together.
QVBoxLayout *makeRowGroup(QWidget *group)
{
    auto *column = new QVBoxLayout(group);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    return column;
}

// On-device: two questions about languages.
QWidget *makeOnDeviceRows()
{
    auto *localRows = new QWidget;
    QVBoxLayout *localColumn = makeRowGroup(localRows);
    for (const auto &question : onDeviceLanguageQuestions()) {
        localColumn->addWidget(new SettingsDivider(localRows));
        localColumn->addWidget(new SettingsFAQRow(question.question, question.answer, localRows));
    }
    return localRows;
}

SymbolButton *makeKeyHelpButton(AppSettingsModel &model, QWidget *parent)
{
    auto *help = new SymbolButton(QStringLiteral("questionmark.circle"), SymbolCatalogue::boxForPointSize(12),
                                  Palette::textSecondary, 22, parent);
    help->setObjectName(QStringLiteral("apiKeyHelpButton"));
    help->setToolTip(QStringLiteral("How to get an OpenAI API key"));
    help->setAccessibleName(QStringLiteral("How to get an OpenAI API key"));
    QObject::connect(help, &QAbstractButton::clicked, help, [&model] { model.setShowKeyHelp(!model.showKeyHelp()); });
    return help;
}

// OpenAI: the key with its help, and the key's test.
struct KeyRows {
    QWidget *rows;
    std::function<void()> refresh;
};

KeyRows makeKeyRows(AppSettingsModel &model)
{
    auto *keyRows = new QWidget;
    QVBoxLayout *keyColumn = makeRowGroup(keyRows);
    auto *keyControls = new QWidget(keyRows);
    auto *keyLine = new QHBoxLayout(keyControls);
    keyLine->setContentsMargins(0, 0, 0, 0);
    keyLine->setSpacing(8);
    auto *keyField = new QLineEdit(keyControls);
    keyField->setObjectName(QStringLiteral("apiKeyField"));
    keyField->setEchoMode(QLineEdit::Password);
    keyField->setPlaceholderText(QString::fromUtf8("sk-…"));
    keyField->setFixedWidth(260);
    keyField->setFont(textFont(textStyle::figureValue));
    keyField->setAccessibleName(QStringLiteral("API key"));
    QObject::connect(keyField, &QLineEdit::textEdited, keyField,
                     [&model](const QString &text) { model.setAPIKey(text); });
    keyLine->addWidget(keyField);
    SymbolButton *help = makeKeyHelpButton(model, keyControls);
    keyLine->addWidget(help);
    keyColumn->addWidget(new SettingsDivider(keyRows));
    keyColumn->addWidget(new SettingsRow(QStringLiteral("key"), QStringLiteral("API key"),
                                         QStringLiteral("Stored in the desktop's keyring."), keyControls, keyRows));
    keyColumn->addWidget(new SettingsDivider(keyRows));
    auto *run = new RunTestControl([&model] { model.runKeyTest(); });
    auto *keyTest =
        new SettingsRow(QStringLiteral("checkmark.seal"), QStringLiteral("Test API key"), QString(), run, keyRows);
    keyColumn->addWidget(keyTest);

    auto *popover = new KeyHelpPopover(help, model);
    return {keyRows, [&model, keyField, keyTest, run, popover] {
                if (keyField->text() != model.apiKey() && !keyField->hasFocus())
                    keyField->setText(model.apiKey());
                run->setRunning(model.keyTesting());
                keyTest->setStatus(model.keyTestResult());
                popover->setOpen(model.showKeyHelp() && model.usesOpenAI());
            }};
}

void addEngineSection(SettingsPage &page, AppSettingsModel &model)
{
    SettingsSection *engine = page.addSection(
        QStringLiteral("Engine"), QStringLiteral("On-device is private and free. OpenAI uses your own key."));
    auto *enginePicker = new SettingsPicker(
        QStringLiteral("Engine"), engineChoices(), 180, engineSymbol(model.backendKind()),
        [&model] { return model.backend(); }, [&model](const QString &value) { model.setBackend(value); });
    engine->add(new SettingsRow(QStringLiteral("cpu"), QStringLiteral("Engine"), QString(), enginePicker));
    QWidget *localRows = makeOnDeviceRows();
    engine->add(localRows);
    KeyRows keyRows = makeKeyRows(model);
    engine->add(keyRows.rows);

    page.addRefresh([&model, enginePicker, localRows, keyRows] {
        enginePicker->setLeadingSymbol(engineSymbol(model.backendKind()));
        enginePicker->refresh();
        localRows->setVisible(!model.usesOpenAI());
        keyRows.rows->setVisible(model.usesOpenAI());
        keyRows.refresh();
    });
}

// The note under the language picker, with its way out.
struct LanguageNoteRows {
    QWidget *rows;
    SettingsRow *note;
};

LanguageNoteRows makeLanguageNoteRows(AppSettingsModel &model)
{
    auto *noteRows = new QWidget;
    QVBoxLayout *noteColumn = makeRowGroup(noteRows);
    auto *useOpenAI = new ZepaButton(ZepaButtonStyle::quiet, QStringLiteral("Use OpenAI"), {}, noteRows);
    QObject::connect(useOpenAI, &QAbstractButton::clicked, useOpenAI, [&model] { model.useOpenAI(); });
    noteColumn->addWidget(new SettingsDivider(noteRows));
    auto *note = new SettingsRow(QStringLiteral("lightbulb"), QString(), QString(), useOpenAI, noteRows);
    noteColumn->addWidget(note);
    return {noteRows, note};
}

// AI cleanup: a switch on the device, "Included" with OpenAI.
SettingsRow *makeCleanupRow(SettingsPage &page, AppSettingsModel &model)
{
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
    page.addRefresh([&model, included, cleanupSwitch, cleanup] {
        included->setVisible(model.usesOpenAI());
        cleanupSwitch->setVisible(!model.usesOpenAI());
        setSwitch(cleanupSwitch, model.cleanupEnabled());
        cleanup->setDetail(model.cleanupDetail());
    });
    return cleanup;
}

void addOutputSection(SettingsPage &page, AppSettingsModel &model)
{
    SettingsSection *output = page.addSection(QStringLiteral("Output"));
    auto *languagePicker = new SettingsPicker(
        QStringLiteral("Language"), model.languageChoices(), 190, QStringLiteral("globe"),
        [&model] { return model.language(); }, [&model](const QString &value) { model.setLanguage(value); });
    output->add(new SettingsRow(QStringLiteral("globe"), QStringLiteral("Language"), QString(), languagePicker));
    const LanguageNoteRows note = makeLanguageNoteRows(model);
    output->add(note.rows);
    page.addRefresh([&model, languagePicker, note] {
        languagePicker->setChoices(model.languageChoices());
        languagePicker->refresh();
        const std::optional<LanguageNote> unsupported = model.unsupportedLanguageNote();
        note.rows->setVisible(unsupported.has_value());
        if (unsupported) {
            note.note->titleLabel()->setText(unsupported->title);
            note.note->setDetail(unsupported->detail);
        }
    });
    output->add(new SettingsDivider);
    output->add(makeCleanupRow(page, model));
}

} // namespace

void buildTranscriptionPage(SettingsPage &page, AppSettingsModel &model, const SettingsPageHosts &)
{
    addEngineSection(page, model);
    addOutputSection(page, model);
}

} // namespace zq
