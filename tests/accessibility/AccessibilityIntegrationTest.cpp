// What a screen reader meets in the application's main window, read from another process over the
// desktop's accessibility bus (AT-SPI) on a private X display and session bus: the History rows with
// their buttons and the keyboard's way to them, a settings picker's drawn menu walked with the keys,
// the drawn Stats cards, a sample of labels, and the announcement after a kept recording is
// transcribed again. The pointer's selection of a transcript
// is driven with real X events and read back from the real clipboard.
#include "app/ZEPAquarnApp.h"
#include "menubar/PillPanelWindow.h"
#include "menubar/PillView.h"
#include "menubar/brand/ZepaMenu.h"
#include "menubar/brand/ZepaMenuPicker.h"
#include "pipeline/DictationController.h"
#include "pipeline/PillState.h"
#include "pipeline/SettingsDefaults.h"
#include "pipeline/ZEPAError.h"
#include "platform/linux/freedesktop/AtspiAnnouncer.h"
#include "platform/linux/x11/X11Pasteboard.h"
#include "records/HistoryStore.h"
#include "records/IncidentStore.h"
#include "records/StatsStore.h"
#include "rewards/stats/LedgerOrbitView.h"
#include "rewards/stats/StatsPage.h"
#include "support/AccessibilityBus.h"
#include "support/ChildProcess.h"
#include "support/HistoryTextPoints.h"
#include "support/ServiceEnvironment.h"
#include "support/ViewRender.h"
#include "support/WindowTestSupport.h"
#include "window/AppWindowView.h"
#include "window/history/HistoryPage.h"
#include "window/history/HistoryPageList.h"
#include "window/history/HistoryPageModel.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QProcess>
#include <QScreen>
#include <QTemporaryFile>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace zq;
using test::AccessibleNode;

namespace {

const QString kListItem = QStringLiteral("list item");
const QString kButton = QStringLiteral("push button");
const QString kMenuItem = QStringLiteral("menu item");

class AccessibilityIntegrationTest : public test::WindowAppFixture {
protected:
    // One accessibility bus for the whole binary, as a desktop session has.
    static void SetUpTestSuite()
    {
        s_bus = new test::AccessibilityBus;
        s_busStarted = s_bus->start();
    }
    static void TearDownTestSuite()
    {
        delete s_bus;
        s_bus = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(test::requireService(QGuiApplication::platformName() == QLatin1String("xcb"), "no X display"));
        ASSERT_TRUE(
            test::requireService(s_busStarted, QStringLiteral("no accessibility bus: ") + s_bus->errorString()));
        services.settings.setValue(keys::onboarded, true);
        AppServices made = WindowAppFixture::appServices(&clipboard);
        // The application's wiring: the controller speaks through the accessibility bus.
        made.makeController = [this] {
            DictationController::Dependencies deps = services.dependencies();
            deps.announce = [this](const QString &message) { announcer.announce(message); };
            return std::make_unique<DictationController>(std::move(deps));
        };
        makeApp(std::move(made));
    }

    AppWindowView &openSection(AppWindowSection section)
    {
        app->windowModel().setSelection(section);
        app->openMainWindow();
        AppWindowView *window = app->mainWindow();
        EXPECT_TRUE(settle([&] { return window->isVisible() && window->currentPage(); }));
        window->activateWindow();
        settle([&] { return window->isActiveWindow(); }, 3s);
        return *window;
    }

    std::unique_ptr<AccessibleNode> tree()
    {
        QString error;
        std::unique_ptr<AccessibleNode> read = test::readAccessibleTree(&error);
        EXPECT_TRUE(read) << qPrintable(error);
        return read;
    }

    // A tool run on the display while this process keeps answering it (the clipboard is served from here).
    QString runServing(const QString &program, const QStringList &arguments)
    {
        QProcess tool;
        tool.start(program, arguments);
        EXPECT_TRUE(tool.waitForStarted(10000)) << qPrintable(program);
        EXPECT_TRUE(settle([&] { return tool.state() == QProcess::NotRunning; }, 20s)) << qPrintable(program);
        return QString::fromUtf8(tool.readAllStandardOutput());
    }

    void xdotool(const QStringList &arguments)
    {
        runServing(QStringLiteral("xdotool"), arguments);
        settle([] { return false; }, 150ms);
    }

    // The display as the user sees it, saved with the renders.
    void shootScreen(const QString &name)
    {
        test::saveRender(QGuiApplication::primaryScreen()->grabWindow(0).toImage(), name);
    }

    QString clipboardText() { return runServing(QStringLiteral("xclip"), {"-o", "-selection", "clipboard"}); }

    static inline test::AccessibilityBus *s_bus = nullptr;
    static inline bool s_busStarted = false;
    platform::X11Pasteboard clipboard;
    platform::AtspiAnnouncer announcer;
};

TEST_F(AccessibilityIntegrationTest, HistoryListsTheRowsOnScreenAndTheKeyboardReachesTheirButtons)
{
    for (int i = 0; i < 30; ++i)
        app->controller().history().add(QStringLiteral("Transcript number %1 about the quarterly review").arg(i));
    AppWindowView &window = openSection(AppWindowSection::history);
    auto *page = qobject_cast<HistoryPage *>(window.currentPage());
    ASSERT_NE(page, nullptr);
    HistoryPageList &list = *page->list();
    ASSERT_TRUE(settle([&] { return list.visibleRows().second > 0; }));

    std::unique_ptr<AccessibleNode> read = tree();
    ASSERT_TRUE(read);
    // The page's list, beside the sidebar's list of sections.
    const AccessibleNode *transcripts = read->find([](const AccessibleNode &node) {
        return node.role == QStringLiteral("list") && node.name != QStringLiteral("Sections");
    });
    ASSERT_TRUE(transcripts);
    const QList<const AccessibleNode *> items =
        transcripts->findAll([](const AccessibleNode &node) { return node.role == kListItem; });
    const auto [first, last] = list.visibleRows();
    ASSERT_EQ(items.size(), last - first + 1) << "one item per row on screen, not per transcript";
    EXPECT_LT(items.size(), 30);
    const HistoryItem &newest = page->model().rows().front();
    EXPECT_EQ(items.front()->name, newest.text + QStringLiteral(", ") + page->model().dateText(newest));
    for (const AccessibleNode *item : items) {
        ASSERT_EQ(item->children.size(), 2) << qPrintable(item->name);
        EXPECT_EQ(item->children[0].role, kButton);
        EXPECT_EQ(item->children[0].name, QStringLiteral("Copy"));
        EXPECT_EQ(item->children[1].name, QStringLiteral("Delete transcript"));
        EXPECT_TRUE(item->children[0].actions.contains(QStringLiteral("Press")))
            << item->children[0].actions.join(',').toStdString();
    }

    // Real keys from the display: from the search field, Tab comes to the first row, its Copy, its Delete.
    page->searchField()->setFocus(Qt::OtherFocusReason);
    xdotool({"key", "Tab"});
    ASSERT_TRUE(list.hasFocus());
    xdotool({"key", "Tab"});
    read = tree();
    ASSERT_TRUE(read && read->focused());
    EXPECT_EQ(read->focused()->role, kButton);
    EXPECT_EQ(read->focused()->name, QStringLiteral("Copy"));
    const AccessibleNode *firstItem = read->findNamed(kListItem, items.front()->name);
    ASSERT_TRUE(firstItem);
    EXPECT_TRUE(firstItem->children[0].has(QStringLiteral("focused"))) << "the focused Copy is the first row's";

    xdotool({"key", "Tab"});
    read = tree();
    ASSERT_TRUE(read && read->focused());
    EXPECT_EQ(read->focused()->name, QStringLiteral("Delete transcript"));
    shootScreen(QStringLiteral("history-keyboard-screen"));

    // Back to Copy, and Enter puts the row's transcript on the desktop's clipboard.
    xdotool({"key", "shift+Tab"});
    xdotool({"key", "Return"});
    EXPECT_EQ(clipboardText(), newest.text);
    read = tree();
    ASSERT_TRUE(read && read->focused());
    EXPECT_EQ(read->focused()->name, QStringLiteral("Copied")) << "the button reads as it shows";
}

TEST_F(AccessibilityIntegrationTest, APickersMenuReadsAsItsItemsAndTheKeyboardWalksAndChoosesThem)
{
    const QString title = QStringLiteral("Background audio");
    AppWindowView &window = openSection(AppWindowSection::general);
    const auto pickerNamed = [&]() -> ZepaMenuPicker * {
        for (ZepaMenuPicker *picker : window.findChildren<ZepaMenuPicker *>()) {
            if (picker->accessibleName() == title && picker->isVisible())
                return picker;
        }
        return nullptr;
    };
    ZepaMenuPicker *picker = pickerNamed();
    ASSERT_NE(picker, nullptr);
    const QString current = picker->currentLabel();
    ASSERT_EQ(current, QStringLiteral("Lower volume")) << "the stored default";

    std::unique_ptr<AccessibleNode> read = tree();
    ASSERT_TRUE(read);
    const AccessibleNode *field = read->findNamed(QStringLiteral("combo box"), title);
    ASSERT_TRUE(field);
    EXPECT_EQ(field->text, current) << "the value, where a reader looks for it";
    EXPECT_TRUE(field->has(QStringLiteral("expandable")) && field->has(QStringLiteral("collapsed")))
        << field->states.join(',').toStdString();
    EXPECT_TRUE(field->actions.contains(QStringLiteral("ShowMenu"))) << field->actions.join(',').toStdString();

    // Real keys from the display: Space on the focused field opens its menu.
    picker->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(settle([&] { return picker->hasFocus(); }));
    xdotool({"key", "space"});
    ASSERT_TRUE(settle([&] { return picker->menu() && picker->menu()->isVisible(); }));
    read = tree();
    ASSERT_TRUE(read);
    const AccessibleNode *menu = read->findNamed(QStringLiteral("popup menu"), title);
    ASSERT_TRUE(menu) << "the open menu is on the bus";
    QStringList names;
    QStringList checked;
    for (const AccessibleNode &item : menu->children) {
        EXPECT_EQ(item.role, kMenuItem);
        EXPECT_TRUE(item.actions.contains(QStringLiteral("Press"))) << qPrintable(item.name);
        names << item.name;
        if (item.has(QStringLiteral("checked")))
            checked << item.name;
    }
    EXPECT_EQ(names, QStringList({"Keep playing", "Lower volume", "Pause"}));
    EXPECT_EQ(checked, QStringList{current});
    EXPECT_TRUE(read->findNamed(QStringLiteral("combo box"), title)->has(QStringLiteral("expanded")));

    // Down walks the highlight, from the current choice on; a reader hears each step as focus.
    test::AccessibilityEventListener focus;
    ASSERT_TRUE(focus.start(QStringLiteral("object:state-changed:focused"))) << qPrintable(focus.errorString());
    for (const QString &expected : {QStringLiteral("Lower volume"), QStringLiteral("Pause")}) {
        SCOPED_TRACE(expected.toStdString());
        xdotool({"key", "Down"});
        read = tree();
        ASSERT_TRUE(read && read->focused());
        EXPECT_EQ(read->focused()->role, kMenuItem);
        EXPECT_EQ(read->focused()->name, expected);
        EXPECT_TRUE(focus.waitFor([&](const test::AccessibilityEventListener::Event &event) {
            return event.detail1 == 1 && event.sourceRole == kMenuItem && event.sourceName == expected;
        })) << qPrintable(focus.heard());
    }

    // Enter chooses the highlighted item: the menu goes and the field reads its new value.
    xdotool({"key", "Return"});
    EXPECT_TRUE(settle(
        [&] { return services.settings.stringValue(keys::audioDuringDictation) == QLatin1String("pause-playback"); }));
    read = tree();
    ASSERT_TRUE(read);
    EXPECT_FALSE(read->find([](const AccessibleNode &node) { return node.role == QStringLiteral("popup menu"); }));
    field = read->findNamed(QStringLiteral("combo box"), title);
    ASSERT_TRUE(field);
    EXPECT_EQ(field->text, QStringLiteral("Pause"));
    EXPECT_TRUE(field->has(QStringLiteral("collapsed")));
}

TEST_F(AccessibilityIntegrationTest, APointerDragSelectsWordsThatCtrlCPutsOnTheClipboard)
{
    const QString text = QStringLiteral("Send the quarterly draft to Maria before Friday, and ask her to check the "
                                        "numbers on the second page before the review");
    app->controller().history().add(text);
    AppWindowView &window = openSection(AppWindowSection::history);
    auto *page = qobject_cast<HistoryPage *>(window.currentPage());
    ASSERT_NE(page, nullptr);
    HistoryPageList &list = *page->list();
    ASSERT_TRUE(settle([&] { return list.rowLayout(0) != nullptr; }));

    const qsizetype from = text.indexOf(QStringLiteral("quarterly"));
    const qsizetype to = text.indexOf(QStringLiteral("Maria")) + 5;
    const auto start = test::historyTextPoint(list, 0, from);
    const auto end = test::historyTextPoint(list, 0, to);
    ASSERT_TRUE(start && end);
    const QPoint a = list.viewport()->mapToGlobal(*start);
    const QPoint b = list.viewport()->mapToGlobal(*end);
    xdotool({"mousemove", QString::number(a.x()), QString::number(a.y())});
    xdotool({"mousedown", "1"});
    xdotool({"mousemove", QString::number((a.x() + b.x()) / 2), QString::number(b.y())});
    xdotool({"mousemove", QString::number(b.x()), QString::number(b.y())});
    xdotool({"mouseup", "1"});
    shootScreen(QStringLiteral("history-selection-screen"));
    xdotool({"key", "ctrl+c"});

    EXPECT_EQ(clipboardText(), QStringLiteral("quarterly draft to Maria"));
}

TEST_F(AccessibilityIntegrationTest, ATranscribedKeptRecordingIsAnnounced)
{
    openSection(AppWindowSection::support);
    ASSERT_TRUE(tree()) << "the application is on the accessibility bus";
    test::AccessibilityEventListener listener;
    ASSERT_TRUE(listener.start(QStringLiteral("object:announcement"))) << qPrintable(listener.errorString());

    // An incident that kept its recording, as a timed-out take leaves it.
    QTemporaryFile take(QDir::tempPath() + QStringLiteral("/zq-take-XXXXXX.wav"));
    ASSERT_TRUE(take.open());
    take.write(QByteArray(64, '\0'));
    take.close();
    take.setAutoRemove(false);
    IncidentStore &incidents = app->controller().incidents();
    DictationIncident incident = test::insertIncident(incidents, QStringLiteral("Transcription timed out"));
    incident.backend = QStringLiteral("local");
    incident.recordingFilename = incidents.keepRecording(take.fileName(), incident.id);
    ASSERT_TRUE(incident.recordingFilename);
    incidents.remove(incident);
    incidents.insert(incident);
    // Its row's buttons, by their labels.
    std::unique_ptr<AccessibleNode> read = tree();
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->findNamed(kButton, QStringLiteral("Retry transcription")));
    EXPECT_TRUE(read->findNamed(kButton, QStringLiteral("Delete issue and recovered recording")));

    struct Case {
        bool succeeds;
        QString announcement;
    };
    const Case cases[] = {
        {false, QStringLiteral("Retry failed. ")},
        {true, QStringLiteral("Transcript recovered, saved in History, and copied to the clipboard.")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.announcement.toStdString());
        const auto before = services.backends.last();
        app->controller().retryRecoveredTranscription(incident);
        ASSERT_TRUE(settle([&] { return services.backends.last() != before; }));
        const auto transcription = services.backends.last();
        if (c.succeeds) {
            transcription->final(QStringLiteral("recovered words"));
            transcription->finish();
        } else {
            transcription->fail(ZEPAError::transcriptionFailed(QStringLiteral("The engine stopped")));
        }
        ASSERT_TRUE(settle([&] {
            return app->controller().recoveredTranscriptionState() !=
                   RecoveredTranscriptionState::transcribing(incident.id);
        }));
        test::AccessibilityEventListener::Event heard;
        ASSERT_TRUE(listener.waitFor([&](const auto &event) { return event.data.startsWith(c.announcement); }, &heard))
            << qPrintable(listener.heard());
        EXPECT_EQ(heard.type, QStringLiteral("object:announcement"));
        EXPECT_EQ(heard.sourceRole, QStringLiteral("application"));
        EXPECT_EQ(heard.detail1, 1) << "polite: it waits for what the reader is saying";
        if (!c.succeeds) {
            EXPECT_GT(heard.data.size(), c.announcement.size()) << "the failure says what to do next";
        }
    }
}

TEST_F(AccessibilityIntegrationTest, TheStatsCardsAreOneElementEachAndTheLabelsAreWhatTheReaderHears)
{
    StatsStore &stats = app->controller().stats();
    stats.setArmedTake(12.0);
    ASSERT_TRUE(stats.commitTake(120, QDateTime::currentDateTime()));
    AppWindowView &window = openSection(AppWindowSection::stats);
    auto *view = window.findChild<LedgerOrbitView *>();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(settle([&] { return view->isVisible(); }));

    std::unique_ptr<AccessibleNode> read = tree();
    ASSERT_TRUE(read);
    const QString orbitLabel = view->orbitAccessibilityLabel();
    EXPECT_TRUE(orbitLabel.startsWith(QStringLiteral("No comparison available versus week ")))
        << qPrintable(orbitLabel);
    const QList<const AccessibleNode *> dial =
        read->findAll([&](const AccessibleNode &node) { return node.name == orbitLabel; });
    ASSERT_EQ(dial.size(), 1) << "the dial is one element";
    EXPECT_TRUE(dial.front()->children.isEmpty()) << "its drawn parts are hidden";
    const AccessibleNode *ledger = read->find([&](const AccessibleNode &node) {
        return node.name == view->ledgerAccessibilityText() && node.role == dial.front()->role;
    });
    ASSERT_TRUE(ledger) << "the ledger card reads as its summary";
    EXPECT_TRUE(ledger->name.contains(QStringLiteral("120"))) << qPrintable(ledger->name);
    EXPECT_TRUE(ledger->children.isEmpty());

    // A sample of the labels the pages give their controls.
    EXPECT_TRUE(read->findNamed(kButton, QStringLiteral("Previous week")));
    EXPECT_TRUE(read->findNamed(kButton, QStringLiteral("Next week")));
    EXPECT_TRUE(read->findNamed(QStringLiteral("slider"), QStringLiteral("Typing baseline")));
    // The drawn sidebar: one item per section, the shown one selected.
    const AccessibleNode *sections = read->findNamed(QStringLiteral("list"), QStringLiteral("Sections"));
    ASSERT_TRUE(sections);
    ASSERT_EQ(sections->children.size(), 8);
    EXPECT_EQ(sections->children[0].name, QStringLiteral("Stats"));
    EXPECT_TRUE(sections->children[0].has(QStringLiteral("selected")));
    EXPECT_EQ(sections->children[1].name, QStringLiteral("History"));
    EXPECT_FALSE(sections->children[1].has(QStringLiteral("selected")));

    app->windowModel().setSelection(AppWindowSection::history);
    auto *page = qobject_cast<HistoryPage *>(window.currentPage());
    ASSERT_TRUE(settle([&] { return (page = qobject_cast<HistoryPage *>(window.currentPage())) != nullptr; }));
    page->searchField()->setText(QStringLiteral("quarterly"));
    read = tree();
    ASSERT_TRUE(read);
    EXPECT_TRUE(read->findNamed(kButton, QStringLiteral("Clear search")));
    EXPECT_TRUE(read->findNamed(kButton, QStringLiteral("Copy Last")));
    EXPECT_TRUE(
        read->find([](const AccessibleNode &node) { return node.name == QStringLiteral("Search transcripts"); }));

    // The pill reads as its state.
    PillPanelWindow pill(*services.engine, Colorway::consensusMint,
                         {services.loop, services.loop.clocks(), services.settings, app->animations()});
    pill.update(PillState::listening());
    ASSERT_TRUE(settle([&] { return pill.window().isVisible(); }));
    services.advance(0.05);
    read = tree();
    ASSERT_TRUE(read);
    // Listening, not yet live: "Connecting".
    const QString status = PillView::statusText(pill.lifecycle());
    EXPECT_EQ(status, QStringLiteral("Connecting"));
    const AccessibleNode *shown = read->find([&](const AccessibleNode &node) { return node.name == status; });
    ASSERT_TRUE(shown);
    EXPECT_TRUE(shown->children.isEmpty()) << "the pill is one element";
}

} // namespace
