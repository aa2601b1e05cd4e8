// The main window and the settings pages, rendered offscreen in light and dark with a few probes.
#include "window/AppWindowView.h"

#include "menubar/brand/FocusRing.h"
#include "menubar/brand/Palette.h"
#include "menubar/brand/WindowPlacement.h"
#include "menubar/brand/ZepaMenuPicker.h"
#include "menubar/brand/ZepaPopover.h"
#include "pipeline/SettingsDefaults.h"
#include "pipeline/TakePhase.h"
#include "platform/linux/freedesktop/XdgAutostartEntry.h"
#include "records/IncidentStore.h"
#include "rewards/depth/DepthGaugeView.h"
#include "rewards/depth/DepthStore.h"
#include "rewards/motion/MotionStore.h"
#include "rewards/motion/PillAnimationGalleryView.h"
#include "rewards/updates/Updater.h"
#include "support/ChildProcess.h"
#include "support/FakeDictationServices.h"
#include "support/FakeHttpClient.h"
#include "support/FakeMicrophoneTestEngine.h"
#include "support/FakePasteboard.h"
#include "support/FakePermissionProbe.h"
#include "support/FakeSecretStore.h"
#include "support/FakeUpdateFramework.h"
#include "support/FakeUserNotifications.h"
#include "support/Polling.h"
#include "support/ViewRender.h"
#include "support/WindowTestSupport.h"
#include "window/AppAppearance.h"
#include "window/AppSidebar.h"
#include "window/onboarding/OnboardingModel.h"
#include "window/onboarding/OnboardingView.h"
#include "window/recorder/TriggerBindingRecorderView.h"
#include "window/settings/AppSettingsModel.h"
#include "window/settings/AppSettingsView.h"
#include "window/settings/SegmentedPicker.h"
#include "window/settings/SettingsControls.h"
#include "window/settings/SettingsRows.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <map>

using namespace std::chrono_literals;
using namespace zq;

namespace {

QString key(const char *name)
{
    return QString::fromLatin1(name);
}

QApplication &application()
{
    return *qobject_cast<QApplication *>(QCoreApplication::instance());
}

class AppWindowViewTest : public ::testing::Test {
protected:
    AppWindowViewTest()
    {
        registerDefaults(rig.settings);
        applyAppearance(application(), AppAppearance::light);
        remakeModel();
    }

    // The settings state made anew (as opening the window does), over the devices the page lists.
    // The keyring read of its constructor runs on a worker: this waits for it unless told not to.
    void remakeModel(QLocale locale = QLocale(QLocale::English, QLocale::UnitedStates), bool waitForKeyring = true,
                     LanguageCatalogue languages = {})
    {
        model = nullptr;
        AppSettingsModel::Dependencies deps{rig.loop,
                                            rig.settings,
                                            *rig.incidents,
                                            *rig.engine,
                                            [] {
                                                return std::vector<AudioInputDevice>{
                                                    {1, "builtin", "Built-in Microphone", InputTransport::builtIn},
                                                    {2, "bt", "<b>Headset</b>", InputTransport::bluetooth}};
                                            },
                                            test::FakeMicrophoneTestEngine::factory(micScript),
                                            Keychain(secrets),
                                            autostart,
                                            {},
                                            APIKeyTestConfig{{}, 1s, std::make_shared<test::FakeHttpClient>()},
                                            std::move(locale)};
        deps.languages = std::move(languages);
        model = std::make_unique<AppSettingsModel>(std::move(deps));
        if (waitForKeyring) {
            EXPECT_TRUE(rig.loop.runUntil([&] { return model->isAPIKeyLoaded(); }));
        }
    }

    ~AppWindowViewTest() override
    {
        window.reset();
        applyAppearance(application(), AppAppearance::system);
    }

    AppWindowView &open(AppWindowSection section, QSize size = {960, 680})
    {
        windowModel.setSelection(section);
        window = std::make_unique<AppWindowView>(windowModel, *rig.incidents, updater.get(), model.get(),
                                                 AppWindowView::Pages{});
        // Its ticker stands still: a render shows the instant a change begins.
        animations.provide(*window);
        window->resize(size);
        window->show();
        QApplication::processEvents();
        return *window;
    }

    QImage render(const QString &name)
    {
        // Layout requests cascade from the page up to the scroll area: let them all run.
        for (int pass = 0; pass < 3; ++pass)
            QApplication::processEvents();
        const QImage image = test::renderWidget(*window);
        test::saveRender(image, name);
        return image;
    }

    QRectF sidebarRect() const { return QRectF(window->sidebar()->geometry()); }

    test::FakeDictationServices rig;
    std::shared_ptr<test::FakeMicrophoneTestEngine::Script> micScript =
        std::make_shared<test::FakeMicrophoneTestEngine::Script>();
    std::shared_ptr<test::FakeSecretStore> secrets = std::make_shared<test::FakeSecretStore>();
    QTemporaryDir config;
    platform::XdgAutostartEntry autostart{config.filePath(QStringLiteral("autostart")), QStringLiteral("/bin/true")};
    std::unique_ptr<AppSettingsModel> model;
    test::VirtualLoop windowLoop;
    Motion animations{windowLoop};
    AppWindowModel windowModel{windowLoop, [] { return std::vector<AppWindowHandle>{}; }, [] {}};
    test::FakeUserNotifications notifications;
    test::FakeUpdateFramework *framework = nullptr;
    std::unique_ptr<Updater> updater = makeUpdater();
    std::unique_ptr<AppWindowView> window;

private:
    std::unique_ptr<Updater> makeUpdater()
    {
        auto owned = std::make_unique<test::FakeUpdateFramework>();
        framework = owned.get();
        return std::make_unique<Updater>(UpdateAvailabilityStore(rig.settings, QStringLiteral("4")),
                                         UpdateReminder::live(rig.settings, rig.loop.clocks(), rig.loop, notifications),
                                         std::move(owned), [this] { return rig.loop.clocks().wallNow(); });
    }
};

TEST_F(AppWindowViewTest, TheWindowCarriesItsIdentifierAndNeverLaysOutBelowItsMinimum)
{
    AppWindowView &view = open(AppWindowSection::general, {600, 400});
    EXPECT_EQ(view.objectName(), "zepaquarn-main");
    EXPECT_EQ(view.windowTitle(), "ZEPA QUARN");
    EXPECT_GE(view.width(), 820);
    EXPECT_GE(view.height(), 540);
    EXPECT_EQ(view.sidebar()->width(), 210);

    // A scaled desktop can leave the sidebar shorter than the minimum asks (508 lines at a factor of
    // 2, less a title bar): the last row, selected, stays clear of the caption, or the caption goes.
    for (const qreal height : {522.0, 480.0}) {
        SCOPED_TRACE(height);
        const QSizeF size(210, height);
        const QImage image = test::renderPaint(size, [](QPainter &painter, const QRectF &rect) {
            paintSidebar(painter, rect, {AppWindowSection::support, false, false, QStringLiteral("1.2.0")},
                         ColorScheme::light);
        });
        test::saveRender(image, QStringLiteral("window-sidebar-short-%1-light").arg(int(height)));
        const QRectF last = sidebarRowRect(QRectF(QPointF(), size), 7);
        const QColor panel = Palette::color(Palette::surfaceRaised, ColorScheme::light);
        for (qreal y = last.bottom() + 0.5; y < last.bottom() + 6; ++y)
            for (qreal x = 16.5; x < 150; x += 2)
                ASSERT_TRUE(test::sameColor(test::pixelAt(image, {x, y}), panel, 3)) << x << "," << y;
    }
}

TEST_F(AppWindowViewTest, SidebarClicksChooseThePageAndTheShownRowChangesNothing)
{
    open(AppWindowSection::general);
    int changes = 0;
    QObject::connect(&windowModel, &AppWindowModel::selectionChanged, [&] { ++changes; });
    const QRectF rows(QPointF(0, 0), sidebarRect().size());
    emit window->sidebar()->sectionClicked(*sidebarSectionAt(rows, sidebarRowRect(rows, 2).center()));
    EXPECT_EQ(changes, 0) << "General is already shown";
    EXPECT_EQ(sidebarSectionAt(rows, sidebarRowRect(rows, 3).center()), AppWindowSection::audio);
    emit window->sidebar()->sectionClicked(AppWindowSection::audio);
    EXPECT_EQ(windowModel.selection(), AppWindowSection::audio);
    EXPECT_EQ(window->settingsView()->section(), AppWindowSection::audio);

    // Focus that reaches the sidebar after a click (a page hid the focused control) draws no ring over
    // the selected row's wash; once the keyboard moves, it does.
    const QRectF selected = sidebarRowRect(sidebarRect(), 3);
    const QPointF ringEdge(selected.center().x(), selected.top() + 1);
    const QColor focus = Palette::color(Palette::focus, ColorScheme::light);
    window->activateWindow();
    QApplication::setActiveWindow(window.get());
    setKeyboardMovesFocus(*window, false);
    window->sidebar()->setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(window->sidebar()->hasFocus());
    EXPECT_FALSE(test::sameColor(test::pixelAt(render("window-sidebar-clicked-light"), ringEdge), focus, 40));
    setKeyboardMovesFocus(*window, true);
    EXPECT_TRUE(test::sameColor(test::pixelAt(render("window-sidebar-keyboard-light"), ringEdge), focus, 40));

    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(window->sidebar(), &down);
    EXPECT_EQ(windowModel.selection(), AppWindowSection::transcription) << "Down moves to the next page";
    windowModel.setSelection(AppWindowSection::stats);
    QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
    QApplication::sendEvent(window->sidebar(), &up);
    EXPECT_EQ(windowModel.selection(), AppWindowSection::stats) << "nothing above the first page";
}

TEST_F(AppWindowViewTest, SupportRowDotsAndTheirOrder)
{
    open(AppWindowSection::general);
    const QRectF row = sidebarRowRect(sidebarRect(), 7);
    const QColor danger = Palette::color(Palette::danger, ColorScheme::light);
    const QColor warning = Palette::color(Palette::warning, ColorScheme::light);

    QImage image = render("window-sidebar-no-dots");
    EXPECT_FALSE(test::sameColor(test::pixelAt(image, sidebarDotRect(row, 1).center()), danger, 30));

    test::insertIncident(*rig.incidents);
    framework->delegate().didFindValidUpdate(test::FakeUpdateFramework::item("1.3.0", "5"));
    ASSERT_EQ(updater->state().kind, AppUpdateState::Kind::available);
    image = render("window-sidebar-dots-light");
    EXPECT_TRUE(test::sameColor(test::pixelAt(image, sidebarDotRect(row, 0).center()), danger, 30))
        << "the issue dot is on the left";
    EXPECT_TRUE(test::sameColor(test::pixelAt(image, sidebarDotRect(row, 1).center()), warning, 30));
    for (int other = 0; other < 7; ++other)
        EXPECT_FALSE(test::sameColor(
            test::pixelAt(image, sidebarDotRect(sidebarRowRect(sidebarRect(), other), 1).center()), danger, 30))
            << "no dots on row " << other;
}

TEST_F(AppWindowViewTest, SupportMarksReadOnlyWhenTheSettingsViewAppearsAnew)
{
    test::insertIncident(*rig.incidents);
    open(AppWindowSection::general);
    windowModel.setSelection(AppWindowSection::support);
    EXPECT_TRUE(rig.incidents->hasUnread()) << "moving between settings sections does not show the view anew";
    windowModel.setSelection(AppWindowSection::stats);
    windowModel.setSelection(AppWindowSection::support);
    EXPECT_FALSE(rig.incidents->hasUnread()) << "coming from Stats shows it anew";
    const QImage image = render("window-support-read");
    EXPECT_FALSE(test::sameColor(test::pixelAt(image, sidebarDotRect(sidebarRowRect(sidebarRect(), 7), 1).center()),
                                 Palette::color(Palette::danger, ColorScheme::light), 30))
        << "the issue dot went away";
}

TEST_F(AppWindowViewTest, ThePageColumnStaysSevenHundredWideOnTheLeadingSide)
{
    open(AppWindowSection::faq, {1400, 700});
    QWidget *column = window->findChild<QWidget *>(QStringLiteral("settingsColumn"));
    ASSERT_NE(column, nullptr);
    EXPECT_EQ(column->width(), 700);
    EXPECT_EQ(column->x(), 25);
}

TEST_F(AppWindowViewTest, EveryPageRendersInLightAndDark)
{
    open(AppWindowSection::general);
    for (AppAppearance appearance : {AppAppearance::light, AppAppearance::dark}) {
        applyAppearance(application(), appearance);
        const ColorScheme scheme = appearance == AppAppearance::dark ? ColorScheme::dark : ColorScheme::light;
        for (AppWindowSection section :
             {AppWindowSection::general, AppWindowSection::audio, AppWindowSection::transcription,
              AppWindowSection::dictionary, AppWindowSection::faq, AppWindowSection::support}) {
            windowModel.setSelection(section);
            const QImage image = render(QStringLiteral("window-%1-%2").arg(rawValue(section), rawValue(appearance)));
            // The page background right of the column, and the window's own background at the edge.
            EXPECT_TRUE(test::sameColor(test::pixelAt(image, QPointF(window->width() - 30, window->height() - 20)),
                                        Palette::color(Palette::background, scheme), 3))
                << rawValue(section).toStdString() << " " << rawValue(appearance).toStdString();
            EXPECT_TRUE(test::sameColor(test::pixelAt(image, QPointF(3, window->height() / 2)),
                                        Palette::color(Palette::windowBackground, scheme), 3));
        }
    }
}

TEST_F(AppWindowViewTest, TheThemePickerShowsTheChosenSegmentInBothAppearances)
{
    open(AppWindowSection::general);
    auto *picker = window->findChild<SegmentedPicker *>(QStringLiteral("themePicker"));
    ASSERT_NE(picker, nullptr);
    EXPECT_EQ(picker->width(), 280);
    for (AppAppearance appearance : {AppAppearance::light, AppAppearance::dark}) {
        // Clicking stores the raw value; the application entry turns the palette.
        picker->segmentButton(appearance == AppAppearance::dark ? 2 : 1)->click();
        EXPECT_EQ(rig.settings.stringValue(key(keys::appearance)), rawValue(appearance));
        applyAppearance(application(), appearance);
        const ColorScheme scheme = appearance == AppAppearance::dark ? ColorScheme::dark : ColorScheme::light;
        render(QStringLiteral("window-theme-picker-%1").arg(rawValue(appearance)));
        const QImage image = test::renderWidget(*picker);
        const int chosen = picker->chosenIndex();
        EXPECT_EQ(chosen, appearance == AppAppearance::dark ? 2 : 1);
        // Just inside the top edge, clear of the symbol and the label.
        const auto probe = [&](int index) { return picker->segmentRect(index).topLeft() + QPointF(12, 4); };
        const QColor track = Palette::color(Palette::controlFill, scheme);
        EXPECT_TRUE(test::sameColor(test::pixelAt(image, probe(0)), track, 3)) << rawValue(appearance).toStdString();
        EXPECT_FALSE(test::sameColor(test::pixelAt(image, probe(chosen)), track, 6))
            << "the chosen segment stands out in " << rawValue(appearance).toStdString();
    }
    // A stored value that is none of the segments chooses none.
    rig.settings.setValue(key(keys::appearance), QStringLiteral("Dark"));
    EXPECT_EQ(picker->chosenIndex(), -1);
}

TEST_F(AppWindowViewTest, RowDetailsAreColouredByTheirStatus)
{
    SettingsRow row(QStringLiteral("waveform"), QStringLiteral("Test microphone"), QString());
    EXPECT_FALSE(row.detailLabel()->isVisibleTo(&row)) << "an empty detail shows no second line";
    row.setStatus(RowStatus::passed("Audio received"));
    EXPECT_EQ(row.detail(), QString::fromUtf8("✓ Audio received"));
    EXPECT_EQ(row.detailLabel()->palette().color(QPalette::WindowText),
              Palette::color(Palette::success, ColorScheme::light));
    row.setStatus(RowStatus::failed("No audio received"));
    EXPECT_EQ(row.detailLabel()->palette().color(QPalette::WindowText),
              Palette::color(Palette::danger, ColorScheme::light));
    row.setDetail(QString::fromUtf8("✗ a plain text that starts with a cross"));
    EXPECT_EQ(row.detailLabel()->palette().color(QPalette::WindowText),
              Palette::color(Palette::textTertiary, ColorScheme::light))
        << "the tone is the status's, not read from the text";
    row.setDetail(QStringLiteral("Plain"));
    EXPECT_EQ(row.detailLabel()->palette().color(QPalette::WindowText),
              Palette::color(Palette::textTertiary, ColorScheme::light));
    EXPECT_EQ(row.detailLabel()->textFormat(), Qt::PlainText);
}

TEST(SettingsRowDetailTest, ALongDetailIsCutToTwoLinesEndingInAnEllipsis)
{
    QFont font;
    font.setPixelSize(11);
    const QString hint = QStringLiteral("Automatic may choose a Bluetooth microphone. For fast starts with headphones, "
                                        "select the built-in microphone of this computer.");
    const QStringList cut = StyledLabel::linesShown(hint, font, 180, 2);
    ASSERT_EQ(cut.size(), 2);
    EXPECT_TRUE(hint.startsWith(cut[0]));
    EXPECT_TRUE(cut[1].endsWith(QChar(0x2026))) << cut[1].toStdString();
    EXPECT_LE(QFontMetricsF(font).horizontalAdvance(cut[1]), 180);
    // The cut falls after a whole word of the text, never inside one.
    const QString kept = cut[1].chopped(1);
    const QStringList words = hint.split(QLatin1Char(' '));
    EXPECT_TRUE(words.contains(kept.split(QLatin1Char(' ')).last()) ||
                words.contains(kept.split(QLatin1Char(' ')).last() + QLatin1Char(',')) ||
                words.contains(kept.split(QLatin1Char(' ')).last() + QLatin1Char('.')))
        << cut[1].toStdString();

    // A text that fits is shown whole, on as many lines as it takes.
    const QStringList whole = StyledLabel::linesShown(QStringLiteral("Leaves music untouched."), font, 400, 2);
    EXPECT_EQ(whole, QStringList{QStringLiteral("Leaves music untouched.")});
    EXPECT_EQ(StyledLabel::linesShown(hint, font, 180, 0).join(QLatin1Char(' ')), hint) << "no limit, no cut";
}

TEST_F(AppWindowViewTest, TranscriptionShowsTheRowsOfItsEngine)
{
    open(AppWindowSection::transcription);
    auto *keyField = window->findChild<QLineEdit *>(QStringLiteral("apiKeyField"));
    ASSERT_NE(keyField, nullptr);
    EXPECT_FALSE(keyField->isVisible()) << "no key rows on-device";
    render("window-transcription-local-light");

    rig.settings.setValue(key(keys::backend), QStringLiteral("openai"));
    QApplication::processEvents();
    EXPECT_TRUE(keyField->isVisible());
    EXPECT_EQ(keyField->echoMode(), QLineEdit::Password);
    render("window-transcription-openai-light");
    // The engine's new symbol replaces the field; the old one does not linger beside it.
    int engineFields = 0;
    for (auto *picker : window->findChildren<ZepaMenuPicker *>()) {
        if (picker->isVisible() && picker->accessibleName() == QStringLiteral("Engine"))
            ++engineFields;
    }
    EXPECT_EQ(engineFields, 1);
}

TEST_F(AppWindowViewTest, AKeyTypedBeforeTheKeyringAnswersWinsInTheFieldAndTheKeyring)
{
    secrets->setItem(Keychain::service, Keychain::account, "sk-stored");
    secrets->holdReads();
    auto answer = qScopeGuard([&] { secrets->releaseReads(); });
    remakeModel(QLocale(QLocale::English, QLocale::UnitedStates), false);
    rig.settings.setValue(key(keys::backend), QStringLiteral("openai"));
    open(AppWindowSection::transcription);
    auto *field = window->findChild<QLineEdit *>(QStringLiteral("apiKeyField"));
    ASSERT_NE(field, nullptr);
    field->setFocus();
    QTest::keyClicks(field, QStringLiteral("sk-typed"));
    field->clearFocus();

    answer.dismiss();
    secrets->releaseReads(); // the keyring answers with the key it held before
    ASSERT_TRUE(rig.loop.runUntil([&] { return model->isAPIKeyLoaded(); }));
    QApplication::processEvents();
    EXPECT_EQ(field->text(), QStringLiteral("sk-typed"));
    rig.loop.advance(600ms);
    ASSERT_TRUE(rig.loop.runUntil([&] { return secrets->calls().contains("write"); }));
    EXPECT_EQ(Keychain(secrets).readAPIKey(), QStringLiteral("sk-typed"));
}

TEST_F(AppWindowViewTest, TheUnsupportedLanguageNoteOffersOpenAI)
{
    // A system language the on-device engine lacks, which has only an English model.
    remakeModel(QLocale(QLocale::Polish, QLocale::Poland), true, LanguageCatalogue(QStringList{QStringLiteral("en")}));
    open(AppWindowSection::transcription);
    QAbstractButton *button = nullptr;
    for (auto *candidate : window->findChildren<QAbstractButton *>())
        if (candidate->accessibleName() == "Use OpenAI")
            button = candidate;
    ASSERT_NE(button, nullptr);
    EXPECT_TRUE(button->isVisible());
    render("window-transcription-unsupported-light");

    // A stored German choice: no German model here, so the note names it.
    const auto noteTitle = [this] {
        for (auto *label : window->findChildren<QLabel *>())
            if (label->isVisible() && label->text().endsWith(QStringLiteral(" isn't supported on-device")))
                return label->text();
        return QString();
    };
    EXPECT_EQ(noteTitle(), "Polish isn't supported on-device");
    rig.settings.setValue(key(keys::language), QStringLiteral("de"));
    QApplication::processEvents();
    EXPECT_EQ(noteTitle(), "German isn't supported on-device");
    const auto languageField = [this] {
        for (auto *picker : window->findChildren<ZepaMenuPicker *>())
            if (picker->accessibleName() == QStringLiteral("Language"))
                return picker->currentLabel();
        return QString();
    };
    EXPECT_EQ(languageField(), "German") << "the field names the kept language, as the tray panel does";
    render("window-transcription-german-without-model-light");
    applyAppearance(application(), AppAppearance::dark);
    render("window-transcription-german-without-model-dark");
    applyAppearance(application(), AppAppearance::light);
    EXPECT_EQ(rig.settings.stringValue(key(keys::language)), "de") << "the choice is kept";
    button->click();
    QApplication::processEvents();
    EXPECT_EQ(rig.settings.stringValue(key(keys::backend)), "openai");
    EXPECT_FALSE(button->isVisible()) << "the note goes away";
}

TEST_F(AppWindowViewTest, ResultsAndAnExpandedQuestionRender)
{
    micScript->fires = 3;
    open(AppWindowSection::audio);
    model->runMicTest();
    rig.loop.advance(2s);
    ASSERT_EQ(model->micTestResult(), RowStatus::passed("Audio received"));
    const QColor success = Palette::color(Palette::success, ColorScheme::light);
    const QColor danger = Palette::color(Palette::danger, ColorScheme::light);
    QImage image = render("window-audio-mic-ok-light");
    EXPECT_FALSE(test::colorBounds(image, success, 12).isEmpty()) << "the verdict is drawn in the success colour";
    EXPECT_TRUE(test::colorBounds(image, danger, 12).isEmpty());
    micScript->fires = 0;
    model->runMicTest();
    rig.loop.advance(2s);
    image = render("window-audio-mic-failed-light");
    EXPECT_FALSE(test::colorBounds(image, danger, 12).isEmpty()) << "a failed verdict is drawn in the danger colour";

    windowModel.setSelection(AppWindowSection::faq);
    auto rows = window->findChildren<SettingsFAQRow *>();
    ASSERT_EQ(rows.size(), 10);
    for (auto *row : rows)
        EXPECT_FALSE(row->isExpanded()) << "every question starts collapsed";
    // The whole question line is the button: a click opens the answer, a second closes it.
    window->resize(window->minimumSize());
    QApplication::setActiveWindow(window.get());
    for (int pass = 0; pass < 3; ++pass)
        QApplication::processEvents();
    const auto clickQuestion = [&](SettingsFAQRow *row) {
        QWidget *line = row->findChildren<QWidget *>(Qt::FindDirectChildrenOnly).value(0);
        ASSERT_TRUE(line && !line->rect().isEmpty());
        QTest::mouseClick(line, Qt::LeftButton, {}, QPoint(line->width() / 2, line->height() / 2));
    };
    // The first lands on a line whose top half is scrolled out of view, pressed and let go at one place
    // on the screen: it acts, and the page stays put, or the line would move from under the pointer.
    QWidget *line = rows[0]->findChildren<QWidget *>(Qt::FindDirectChildrenOnly).value(0);
    QScrollBar *scroll = window->settingsView()->verticalScrollBar();
    const int scrolled = line->mapTo(window->settingsView()->widget(), QPoint(0, line->height() / 2)).y();
    scroll->setValue(scrolled);
    ASSERT_EQ(scroll->value(), scrolled);
    const QPoint at = line->mapTo(window.get(), QPoint(line->width() / 2, line->height() * 3 / 4));
    QTest::mousePress(line, Qt::LeftButton, {}, line->mapFrom(window.get(), at));
    // The release goes to the line pressed, wherever it is by then.
    QTest::mouseRelease(line, Qt::LeftButton, {}, line->mapFrom(window.get(), at));
    EXPECT_TRUE(line->hasFocus());
    EXPECT_EQ(scroll->value(), scrolled);
    EXPECT_TRUE(rows[0]->isExpanded());
    scroll->setValue(0);
    clickQuestion(rows[0]);
    EXPECT_FALSE(rows[0]->isExpanded());
    clickQuestion(rows[1]);
    ASSERT_TRUE(rows[1]->isExpanded());
    windowLoop.advance(75ms);
    render("window-faq-opening-light");
    windowLoop.advance(1s);
    // Every frame of the reveal ran at once: let each one's layout requests climb to the scroll area.
    for (int pass = 0; pass < 6; ++pass)
        QApplication::processEvents();
    render("window-faq-expanded-light");
    applyAppearance(application(), AppAppearance::dark);
    render("window-faq-expanded-dark");
    windowModel.setSelection(AppWindowSection::dictionary);
    windowModel.setSelection(AppWindowSection::faq);
    for (auto *row : window->findChildren<SettingsFAQRow *>())
        EXPECT_FALSE(row->isExpanded()) << "coming back collapses every question";
}

} // namespace

namespace {

TEST_F(AppWindowViewTest, DeviceNamesAndTheKeyHelpShowAsPlainText)
{
    open(AppWindowSection::audio);
    SettingsPicker *input = nullptr;
    for (auto *picker : window->findChildren<SettingsPicker *>())
        if (picker->title() == QLatin1String("Input"))
            input = picker;
    ASSERT_NE(input, nullptr);
    ASSERT_EQ(input->choices().size(), 3u) << "Automatic and the two devices listed when the page appeared";
    EXPECT_EQ(input->choices()[2].label, QString::fromUtf8("<b>Headset</b> — slower")) << "markup in a name stays text";
    EXPECT_EQ(input->picker()->currentLabel(), "Automatic");
    rig.settings.setValue(key(keys::inputDevice), QStringLiteral("bt"));
    EXPECT_EQ(input->picker()->currentLabel(), QString::fromUtf8("<b>Headset</b> — slower"));
    render("window-audio-headset-light");

    rig.settings.setValue(key(keys::backend), QStringLiteral("openai"));
    windowModel.setSelection(AppWindowSection::transcription);
    QApplication::processEvents();
    auto *help = window->findChild<QAbstractButton *>(QStringLiteral("apiKeyHelpButton"));
    ASSERT_NE(help, nullptr);
    help->click();
    QApplication::processEvents();
    EXPECT_TRUE(model->showKeyHelp());
    auto *popover = window->findChild<QFrame *>(QStringLiteral("apiKeyHelp"));
    ASSERT_NE(popover, nullptr);
    EXPECT_TRUE(popover->isVisible());
    const QPoint above = help->mapToGlobal(QPoint(0, 0));
    // The popover's shadow margin lies around its outline; the arrow's tip is at the outline's bottom.
    EXPECT_LE(popover->geometry().bottom() - PopoverLook::kShadowMargin, above.y() + 1)
        << "it opens over the help button, clear of the key's test under it";
    auto *link = popover->findChild<QAbstractButton *>(QStringLiteral("apiKeyPageLink"));
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->text(), "Open platform.openai.com/api-keys");
    popover->close();
    QApplication::processEvents();
    EXPECT_FALSE(model->showKeyHelp()) << "closing the popover clears its flag";
}

} // namespace

namespace {

TEST_F(AppWindowViewTest, GeneralSwitchesAndPickersAreBoundToTheirOwnSettings)
{
    // Which setting each one writes is the model's rule (AppSettingsModelTest); here each control
    // shows and changes its own.
    open(AppWindowSection::general);
    const auto control = [&](const QString &name) -> QAbstractButton * {
        for (auto *candidate : window->findChildren<QAbstractButton *>())
            if (candidate->accessibleName() == name)
                return candidate;
        return nullptr;
    };
    using Read = bool (AppSettingsModel::*)() const;
    const std::vector<std::pair<QString, Read>> switches = {{"Sound cues", &AppSettingsModel::soundCues},
                                                            {"Show in taskbar", &AppSettingsModel::showInDock},
                                                            {"Launch at login", &AppSettingsModel::launchAtLogin}};
    for (const auto &[name, read] : switches) {
        QAbstractButton *toggle = control(name);
        ASSERT_NE(toggle, nullptr) << name.toStdString();
        std::map<QString, bool> before;
        for (const auto &[other, otherRead] : switches)
            before[other] = (*model.*otherRead)();
        EXPECT_EQ(toggle->isChecked(), before[name]) << name.toStdString();
        toggle->click();
        for (const auto &[other, otherRead] : switches)
            EXPECT_EQ((*model.*otherRead)(), other == name ? !before[other] : before[other])
                << "clicking " << name.toStdString() << ", " << other.toStdString();
    }
    EXPECT_TRUE(QFile::exists(autostart.entryPath())) << "the switch writes the login entry";

    SettingsPicker *background = nullptr;
    for (auto *picker : window->findChildren<SettingsPicker *>())
        if (picker->title() == QLatin1String("Background audio"))
            background = picker;
    ASSERT_NE(background, nullptr);
    for (QAction *action : background->picker()->buildMenu()->actions())
        if (action->text() == QLatin1String("Pause"))
            action->trigger();
    EXPECT_EQ(model->audioDuringDictation(), "pause-playback");
}

TEST_F(AppWindowViewTest, TheMicrophoneChosenOnTheAudioPageReachesTheEngine)
{
    rig.hardware.addDevice({QStringLiteral("bt"), QStringLiteral("Headset"), transportType::bluetooth});
    open(AppWindowSection::audio);
    SettingsPicker *input = nullptr;
    for (auto *picker : window->findChildren<SettingsPicker *>())
        if (picker->title() == QLatin1String("Input"))
            input = picker;
    ASSERT_NE(input, nullptr);
    for (QAction *action : input->picker()->buildMenu()->actions())
        if (action->text().startsWith(QLatin1String("<b>Headset</b>")))
            action->trigger();
    EXPECT_EQ(rig.settings.stringValue(key(keys::inputDevice)), "bt");
    // A Bluetooth microphone is slow to start: chosen in the picker, the engine claims it at once.
    EXPECT_FALSE(rig.engine->takePhase() == TakePhase::idle());
}

TEST(AppSettingsVersionTest, TheVersionLabelIsTheApplicationVersionOrADash)
{
    const QString kept = QCoreApplication::applicationVersion();
    for (const auto &[version, label] : std::vector<std::pair<QString, QString>>{
             {QString(), QString(QChar(0x2014))}, {QStringLiteral("1.4.2"), QStringLiteral("1.4.2")}}) {
        QCoreApplication::setApplicationVersion(version);
        EXPECT_EQ(AppSettingsModel::versionLabel(), label) << version.toStdString();
    }
    QCoreApplication::setApplicationVersion(kept);
}

TEST_F(AppWindowViewTest, TheDictionaryEditorStoresEveryChangeAndKeepsWhatWasTyped)
{
    rig.settings.setValue(key(keys::dictionary), QStringList{"alpha", "Beta"});
    remakeModel(); // the editor opens from the stored list when the settings state is made
    open(AppWindowSection::dictionary);
    auto *editor = window->findChild<QPlainTextEdit *>(QStringLiteral("dictionaryEditor"));
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->toPlainText(), "alpha\nBeta");
    editor->setPlainText(QStringLiteral("alpha\n\n\tKubernetes  \n"));
    EXPECT_EQ(rig.settings.stringListValue(key(keys::dictionary)), (QStringList{"alpha", "Kubernetes"}));
    EXPECT_EQ(editor->toPlainText(), "alpha\n\n\tKubernetes  \n") << "the blank line stays in the editor";
    render("window-dictionary-filled-light");
    editor->setPlainText(QString::fromUtf8("New\xC2\xA0York"));
    EXPECT_EQ(rig.settings.stringListValue(key(keys::dictionary)), QStringList{QString::fromUtf8("New\xC2\xA0York")})
        << "a no-break space inside an entry is stored as typed";
}

} // namespace

namespace {

TEST_F(AppWindowViewTest, HostedViewsTakeTheirPlacesOnTheirPages)
{
    const auto named = [](const char *name) {
        return [name](QWidget *parent) -> QWidget * {
            auto *widget = new QWidget(parent);
            widget->setObjectName(QString::fromLatin1(name));
            widget->setFixedHeight(40);
            return widget;
        };
    };
    AppWindowView::Pages pages;
    pages.stats = named("stats-page");
    pages.settings.triggerRecorder = named("recorder");
    pages.settings.animationGallery = named("gallery");
    pages.settings.depthGauge = named("gauge");
    pages.settings.support = named("support-page");
    windowModel.setSelection(AppWindowSection::general);
    window = std::make_unique<AppWindowView>(windowModel, *rig.incidents, updater.get(), model.get(), std::move(pages));
    window->show();
    QApplication::processEvents();

    auto *recorder = window->findChild<QWidget *>(QStringLiteral("recorder"));
    auto *gallery = window->findChild<QWidget *>(QStringLiteral("gallery"));
    auto *gauge = window->findChild<QWidget *>(QStringLiteral("gauge"));
    ASSERT_TRUE(recorder && gallery && gauge);
    const auto top = [&](QWidget *widget) { return widget->mapTo(window.get(), QPoint(0, 0)); };
    EXPECT_EQ(top(recorder).x() - window->settingsView()->page()->mapTo(window.get(), QPoint(0, 0)).x(), 42)
        << "the recorder lines up with the row titles";
    EXPECT_LT(top(recorder).y(), top(gallery).y());
    EXPECT_LT(top(gallery).y(), top(gauge).y()) << "the gauge comes last";

    windowModel.setSelection(AppWindowSection::support);
    EXPECT_NE(window->findChild<QWidget *>(QStringLiteral("support-page")), nullptr);
    windowModel.setSelection(AppWindowSection::stats);
    EXPECT_EQ(window->currentPage()->objectName(), "stats-page");
}

// Every Tab stop of General, the hosted gallery, gauge and recorder included, shows the focus ring
// once the keyboard brought it there, and none before: a stop without one leaves the user lost.
TEST_F(AppWindowViewTest, EveryTabStopOfGeneralShowsTheFocusRing)
{
    rt::Settings rewards{QString()};
    registerDefaults(rewards);
    MotionStore motion(rewards);
    DepthStore depth(rewards, InviteService(std::make_shared<test::FakeHttpClient>()));
    test::FakePasteboard pasteboard;
    AppWindowView::Pages pages;
    pages.settings.animationGallery = [&](QWidget *parent) -> QWidget * {
        return new PillAnimationGalleryView(motion, 0, Colorway::consensusMint, {}, parent);
    };
    pages.settings.depthGauge = [&](QWidget *parent) -> QWidget * {
        return new DepthGaugeView(depth, rig.loop, &pasteboard, parent);
    };
    pages.settings.triggerRecorder = [&](QWidget *parent) -> QWidget * {
        return makeSettingsTriggerRecorder(TriggerRecorderServices{rig.loop, nullptr, {}}, rig.settings, parent);
    };
    windowModel.setSelection(AppWindowSection::general);
    window = std::make_unique<AppWindowView>(windowModel, *rig.incidents, updater.get(), model.get(), std::move(pages));
    animations.provide(*window);
    window->resize(960, 680);
    window->show();
    QApplication::setActiveWindow(window.get());
    QApplication::processEvents();

    // The ring lies along the stop's edge, just inside it or (drawn by the well around a field) just
    // outside: it crosses the middle of the top and of the left side, and the pointer's render has none.
    const QColor focus = Palette::color(Palette::focus, ColorScheme::light);
    const auto crossesEdge = [&](const QImage &image, QPoint from, QPoint step) {
        for (int i = 0; i < 8; ++i, from += step)
            if (test::sameColor(image.pixelColor(from), focus, 40))
                return true;
        return false;
    };
    // The page scrolled to its end first: Tab from the sidebar lands on its first control, far above.
    QScrollBar *scroll = window->settingsView()->verticalScrollBar();
    scroll->setValue(scroll->maximum());
    ASSERT_GT(scroll->value(), 0) << "General is taller than the window";
    window->sidebar()->setFocus(Qt::TabFocusReason);
    QStringList stops;
    for (int stopNumber = 1; stopNumber < 40; ++stopNumber) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget *stop = QApplication::focusWidget();
        ASSERT_NE(stop, nullptr);
        if (stop == window->sidebar())
            break;
        const QString name = QString::fromLatin1(stop->metaObject()->className());
        stops << name;
        SCOPED_TRACE(testing::Message() << "stop " << stopNumber << ": " << name.toStdString());
        QWidget *viewport = window->settingsView()->viewport();
        EXPECT_TRUE(viewport->rect().contains(QRect(stop->mapTo(viewport, QPoint(0, 0)), stop->size())))
            << "the focused control is scrolled into view";
        const QRect area(stop->mapTo(window.get(), QPoint(0, 0)), stop->size());
        setKeyboardMovesFocus(*window, false);
        const QImage pointer = render(QStringLiteral("general-tab-stop-pointer"));
        setKeyboardMovesFocus(*window, true);
        const QImage keyboard = render(QStringLiteral("general-tab-stop-%1-light").arg(stopNumber));
        const QRect around = area.adjusted(-4, -4, 4, 4).intersected(keyboard.rect());
        EXPECT_NE(keyboard.copy(around), pointer.copy(around)) << "the keyboard's focus changes nothing";
        EXPECT_TRUE(crossesEdge(keyboard, {area.center().x(), area.top() - 4}, {0, 1})) << "no ring at the top";
        EXPECT_TRUE(crossesEdge(keyboard, {area.left() - 4, area.center().y()}, {1, 0})) << "no ring at the left";
    }
    EXPECT_TRUE(stops.contains(QStringLiteral("zq::PillAnimationTile")) &&
                stops.contains(QStringLiteral("zq::DepthChip")))
        << stops.join(QLatin1Char(' ')).toStdString();
    // For the eye: the selected tile focused, in both schemes.
    for (QWidget *tile : window->findChildren<PillAnimationTile *>())
        if (tile->isEnabled())
            tile->setFocus(Qt::TabFocusReason);
    setKeyboardMovesFocus(*window, true);
    render(QStringLiteral("general-tab-stop-tile-light"));
    applyAppearance(application(), AppAppearance::dark);
    render(QStringLiteral("general-tab-stop-tile-dark"));
}

} // namespace

namespace {

TEST(AppWindowSizesTest, TheWindowNeverOpensLargerThanTheScreenAndItsMinimumGivesWay)
{
    const struct {
        QSize available;
        QSize minimum;
        QSize initial;
    } cases[] = {
        {{1920, 1048}, {820, 540}, {960, 680}}, // 1080 lines at 1×, a panel and a title bar off
        {{960, 508}, {820, 508}, {960, 508}},   // the same screen at a scale factor of 2
        {{800, 568}, {800, 540}, {800, 568}},   // smaller than the minimum across
        {{0, 0}, {1, 1}, {1, 1}},               // a screen that reports nothing
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.available.width() << "x" << c.available.height());
        const AppWindowSizes sizes = appWindowSizes(c.available);
        EXPECT_EQ(sizes.minimum, c.minimum);
        EXPECT_EQ(sizes.initial, c.initial);
    }
    // Placed before it has a frame, a window allows for a title bar of the screen's pixels at any scale;
    // centred, a frame taller than the area keeps its top, and so its title bar, on the area.
    EXPECT_EQ(titleBarAllowance(2), QSize(0, 16));
    EXPECT_EQ(centredIn(QRect(0, 24, 960, 508), QSize(820, 540)), QPoint(70, 24));
}

// A toolkit draws at one scale for the life of its process: runs the current test again in a process
// drawing at scale 2 on an offscreen screen of 2560x1600 pixels, where both windows fit with room
// around them, unless this one draws at 2. True when it did; the child's failures are this test's.
bool ranOnALargeScreenAtScale2()
{
    if (qRound(QGuiApplication::primaryScreen()->devicePixelRatio()) == 2)
        return false;
    QTemporaryDir folder;
    QFile config(folder.filePath(QStringLiteral("screen.json")));
    EXPECT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(R"({"screens": [{"name": "large", "x": 0, "y": 0, "width": 2560, "height": 1600,
                                  "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    config.close();
    const ::testing::TestInfo *test = ::testing::UnitTest::GetInstance()->current_test_info();
    test::ChildSpec spec;
    spec.program = QCoreApplication::applicationFilePath();
    spec.arguments = {QStringLiteral("--gtest_filter=%1.%2").arg(test->test_suite_name(), test->name()),
                      QStringLiteral("-platform"), QStringLiteral("offscreen:configfile=") + config.fileName()};
    spec.environment.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
    spec.standardOutput = test::ChildStream::Pipe;
    spec.standardError = test::ChildStream::Pipe;
    test::ChildProcess child;
    if (!child.start(spec)) {
        ADD_FAILURE() << child.errorString().toStdString();
        return true;
    }
    const std::optional<int> exit = child.waitForExit(QDeadlineTimer(test::kLoadedMachineTimeout));
    EXPECT_EQ(exit, 0) << child.howItEnded().toStdString() << ":\n"
                       << child.collected(test::ChildProcess::Channel::StandardOutput).toStdString()
                       << child.collected(test::ChildProcess::Channel::StandardError).toStdString();
    return true;
}

TEST_F(AppWindowViewTest, AtScale2BothWindowsOpenCentredAllowingForATitleBarOfTheScreensPixels)
{
    if (ranOnALargeScreenAtScale2())
        return;
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_GE(area.height(), 700) << "a screen with room around either window";
    // Placed before they have a frame: a title bar of 32 of the screen's pixels, 16 of theirs.
    const auto offCentre = [&](const QWidget &placed) {
        return QRect(placed.pos(), placed.size() + QSize(0, 16)).center() - area.center();
    };
    window = std::make_unique<AppWindowView>(windowModel, *rig.incidents, updater.get(), model.get(),
                                             AppWindowView::Pages{});
    window->fitScreen();
    EXPECT_LE(offCentre(*window).manhattanLength(), 1) << "the main window";

    test::FakePermissionProbe probe;
    auto *onboarding = new OnboardingModel(rig.settings, probe, rig.loop, [] {});
    OnboardingView welcome(*onboarding,
                           makeSettingsTriggerRecorder(TriggerRecorderServices{rig.loop, nullptr, {}}, rig.settings));
    onboarding->setParent(&welcome);
    EXPECT_LE(offCentre(welcome).manhattanLength(), 1) << "the Welcome window";
}

TEST_F(AppWindowViewTest, FittedToItsScreenTheWindowLiesWithinItsAvailableArea)
{
    windowModel.setSelection(AppWindowSection::general);
    window = std::make_unique<AppWindowView>(windowModel, *rig.incidents, updater.get(), model.get(),
                                             AppWindowView::Pages{});
    window->move(300, 200);
    window->fitScreen();
    const QRect area = window->screen()->availableGeometry();
    EXPECT_LE(window->width(), area.width());
    EXPECT_LE(window->height(), area.height());
    EXPECT_LE(window->minimumHeight(), area.height());
    EXPECT_TRUE(area.contains(window->geometry())) << "moved back onto the screen";
    const QRect frame(window->pos(), window->size() + frameAllowance(*window));
    EXPECT_LE((frame.center() - area.center()).manhattanLength(), 1) << "a new window opens centred on the screen";

    // A window given back where the user left it (flush in the far corner) stays there.
    window->resize(window->minimumSize());
    const QPoint corner = area.bottomRight() + QPoint(1, 1) - QPoint(window->width(), window->height()) -
                          QPoint(0, frameAllowance(*window).height());
    window->move(corner);
    const AppWindowKept kept = window->kept();
    window = std::make_unique<AppWindowView>(windowModel, *rig.incidents, updater.get(), model.get(),
                                             AppWindowView::Pages{});
    window->restore(kept);
    window->fitScreen();
    EXPECT_EQ(window->pos(), corner);
}

} // namespace
