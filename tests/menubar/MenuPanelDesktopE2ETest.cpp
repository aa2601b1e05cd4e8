// The real application in a tray under a window manager, as a user meets the panel: hover after a
// menu has held the pointer, the issue banner that opens Support takes the panel away first, and the
// keyboard focus shows its ring only once the keyboard moves it.
#include "menubar/brand/Palette.h"
#include "records/DictationIncident.h"
#include "records/StoreFile.h"
#include "support/AccessibilityBus.h"
#include "support/CompositingManager.h"
#include "support/DesktopDriver.h"
#include "support/E2EEnvironment.h"
#include "support/OpenboxWindowManager.h"
#include "support/Polling.h"
#include "support/ServiceEnvironment.h"
#include "support/ViewRender.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string_view>

using namespace std::chrono_literals;
using zq::ColorScheme;
using zq::Palette;
using zq::test::AccessibilityEventListener;
using zq::test::AccessibleNode;
using zq::test::E2EEnvironment;

namespace {

// The node of `window` for which `match` holds, and the one it is a child of (null for the window).
struct Found {
    const AccessibleNode *node = nullptr;
    const AccessibleNode *parent = nullptr;
};

Found findWithParent(const AccessibleNode &window, const std::function<bool(const AccessibleNode &)> &match)
{
    if (match(window))
        return {&window, nullptr};
    for (const AccessibleNode &child : window.children) {
        Found found = findWithParent(child, match);
        if (found.node) {
            if (!found.parent)
                found.parent = &window;
            return found;
        }
    }
    return {};
}

// The panel's rows where the panel shows them, as a screen reader reads them: a control row is the
// one its picker or switch sits in, a footer row is a button of its own.
struct PanelRows {
    QRect language, cleanup, microphone, open, quit;
    // The Language picker's field.
    QRect picker;

    static std::optional<PanelRows> of(const AccessibleNode &window)
    {
        const auto named = [&](const QString &role, const QString &name) {
            return findWithParent(window, [&](const AccessibleNode &node) {
                return node.role == role && node.name == name && node.extents.isValid();
            });
        };
        const Found language = named(QStringLiteral("combo box"), QStringLiteral("Language"));
        const Found microphone = named(QStringLiteral("combo box"), QStringLiteral("Microphone"));
        const Found open = named(QStringLiteral("push button"), QStringLiteral("Open ZEPA QUARN…"));
        const Found quit = named(QStringLiteral("push button"), QStringLiteral("Quit ZEPA QUARN"));
        // The switch sits in a holder of its own inside the row.
        const Found cleanupSwitch = findWithParent(window, [](const AccessibleNode &node) {
            return node.name == QStringLiteral("AI cleanup") && node.role != QStringLiteral("label");
        });
        if (!language.parent || !microphone.parent || !open.node || !quit.node || !cleanupSwitch.parent)
            return std::nullopt;
        const Found cleanup =
            findWithParent(window, [&](const AccessibleNode &node) { return &node == cleanupSwitch.parent; });
        if (!cleanup.parent)
            return std::nullopt;
        return PanelRows{language.parent->extents, cleanup.parent->extents, microphone.parent->extents,
                         open.node->extents,       quit.node->extents,      language.node->extents};
    }

    // Inside a card, left of the icon tiles: only the card's surface or a row's hover fill.
    static QPoint leading(const QRect &row) { return QPoint(row.left() + 4, row.center().y()); }
};

class MenuPanelDesktopE2ETest : public ::testing::Test {
protected:
    void start(bool withIssue)
    {
        env = std::make_unique<E2EEnvironment>(zq::test::Microphone::Live);
        if (!zq::test::requireService(env->start(), env->errorString()))
            return;
        ASSERT_TRUE(openbox.start(env->display())) << "openbox did not start";
        ASSERT_TRUE(env->writeSettings({{QStringLiteral("appearance"), QStringLiteral("light")}}));
        if (withIssue)
            writeIncident();
        startApp();
    }

    // With a screen reader's bus on the application's session bus, which tells where the panel's
    // controls are.
    void startApp(std::chrono::milliseconds timeout = 30s, const QByteArray &readyLine = {})
    {
        focus.reset();
        bus.emplace();
        ASSERT_TRUE(bus->start(env->bus().address(), env->display())) << bus->errorString().toStdString();
        const bool started = readyLine.isEmpty() ? env->startApp(timeout) : env->startApp(timeout, readyLine);
        ASSERT_TRUE(started) << env->errorString().toStdString();
        focus.emplace();
        ASSERT_TRUE(focus->start(QStringLiteral("object:state-changed:focused"), env->appPid(), *bus,
                                 AccessibilityEventListener::Window::read))
            << focus->errorString().toStdString();
    }

    // The panel opened from the tray, once it shows still, with its window as a screen reader reads
    // it: reached from the control the panel gives the focus to as it opens, and read again once the
    // panel has slid into place. Null window when the panel did not open or could not be read.
    struct OpenedPanel {
        QRect geometry;
        std::shared_ptr<const AccessibleNode> window;
        QImage screen;
    };
    OpenedPanel openPanel()
    {
        // What was heard before is of windows that were, or of another one.
        while (focus->waitFor([](const AccessibilityEventListener::Event &) { return true; }, nullptr, 0ms)) {
        }
        OpenedPanel opened;
        opened.geometry = desktop().openPanel();
        if (!opened.geometry.isValid())
            return opened;
        AccessibilityEventListener::Event focused;
        const bool heard = focus->waitFor(
            [](const AccessibilityEventListener::Event &event) {
                return event.detail1 == 1 && event.window &&
                       event.window->findNamed(QStringLiteral("push button"), QStringLiteral("Quit ZEPA QUARN"));
            },
            &focused);
        if (!heard)
            return opened;
        opened.screen = settledScreenshot();
        opened.window = focus->windowNow(focused);
        return opened;
    }

    bool ready() const { return env && !HasFatalFailure() && !IsSkipped(); }

    void writeIncident()
    {
        const QString folder = env->dataDir() + QStringLiteral("/Incidents");
        QDir().mkpath(folder);
        zq::DictationIncident incident;
        incident.id = QUuid::createUuid();
        incident.date = QDateTime::currentDateTimeUtc();
        incident.code = QStringLiteral("ZQ-MIC-NO-AUDIO");
        incident.title = QStringLiteral("The microphone sent only silence");
        incident.message = QStringLiteral("No sound reached the application.");
        incident.nextStep = QStringLiteral("Check the input.");
        incident.backend = QStringLiteral("local");
        QFile file(folder + QStringLiteral("/incidents.json"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(QJsonArray{incident.toJson()}).toJson());
    }

    zq::test::DesktopDriver desktop() const { return zq::test::DesktopDriver(env->display()); }

    // Moves the pointer without a click.
    void pointTo(const QPoint &at) const
    {
        desktop().xdotool({QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y())});
    }

    // The rows whose leading edge shows anything but the card's surface, in the screenshot.
    static QStringList hoveredRows(const QImage &screen, const PanelRows &rows)
    {
        const QColor surface = Palette::color(Palette::surface, ColorScheme::light);
        const std::pair<const char *, QRect> all[] = {{"Language", rows.language},
                                                      {"AI cleanup", rows.cleanup},
                                                      {"Microphone", rows.microphone},
                                                      {"Open", rows.open},
                                                      {"Quit", rows.quit}};
        QStringList names;
        for (const auto &[name, row] : all) {
            if (!zq::test::sameColor(screen.pixelColor(PanelRows::leading(row)), surface, 3))
                names << QString::fromLatin1(name);
        }
        return names;
    }

    // The rows hovered once they are `expected`, or at the end of the wait: a loaded machine paints a
    // hover late, never differently.
    QStringList hoveredOnce(const PanelRows &rows, const QStringList &expected) const
    {
        QStringList hovered;
        zq::test::waitFor(
            [&] {
                hovered = hoveredRows(desktop().screenshot(), rows);
                return hovered == expected;
            },
            10s, 100ms);
        return hovered;
    }

    // The screen once two shots 200 ms apart agree, so what a loaded machine paints late is in it.
    QImage settledScreenshot() const
    {
        QImage last = desktop().screenshot();
        zq::test::waitFor(
            [&] {
                QImage shot = desktop().screenshot();
                const bool same = shot == last;
                last = std::move(shot);
                return same;
            },
            10s, 200ms);
        return last;
    }

    // The screen once `changed` holds for it and it has settled; at the end of the wait, what shows.
    QImage settledOnce(const std::function<bool(const QImage &)> &changed) const
    {
        zq::test::waitFor([&] { return changed(desktop().screenshot()); }, 10s, 100ms);
        return settledScreenshot();
    }

    // Pixels of the focus colour down the cards' leading edge, where a card's focus ring runs (the
    // ring of a banner or the recap; a row or a picker shows its focus elsewhere). The cards' rows
    // span them: the edge is the Quit row's, in the panel's `window`.
    static int ringPixels(const QImage &screen, const QRect &panel, const AccessibleNode &window)
    {
        const AccessibleNode *quit = window.findNamed(QStringLiteral("push button"), QStringLiteral("Quit ZEPA QUARN"));
        EXPECT_TRUE(quit) << "no Quit row on the panel";
        if (!quit)
            return -1;
        const QColor focus = Palette::color(Palette::focus, ColorScheme::light);
        int count = 0;
        for (int y = panel.top(); y <= panel.bottom(); ++y) {
            for (int x : {quit->extents.left(), quit->extents.left() + 1})
                count += zq::test::sameColor(screen.pixelColor(x, y), focus, 30) ? 1 : 0;
        }
        return count;
    }

    std::unique_ptr<E2EEnvironment> env;
    zq::test::OpenboxWindowManager openbox;
    // Made anew for each application a test starts.
    std::optional<zq::test::AccessibilityBus> bus;
    std::optional<AccessibilityEventListener> focus;
};

} // namespace

TEST_F(MenuPanelDesktopE2ETest, AfterTheLanguageMenuClosesOneRowAtMostIsHovered)
{
    start(false);
    if (!ready())
        return;
    const OpenedPanel opened = openPanel();
    const QRect panel = opened.geometry;
    ASSERT_TRUE(opened.window) << focus->heard().toStdString() << env->appLogTail().toStdString();
    const std::optional<PanelRows> read = PanelRows::of(*opened.window);
    ASSERT_TRUE(read) << "the panel's rows are not all on the accessibility bus";
    const PanelRows rows = *read;
    for (const QRect &row : {rows.language, rows.cleanup, rows.microphone, rows.open, rows.quit})
        ASSERT_TRUE(panel.contains(row)) << "a row off the panel: the rectangles are not where it draws";
    // Over the picker's trailing end (its chevron), whatever its width.
    const QPoint picker(rows.picker.right() + 1 - 14, rows.picker.center().y());
    pointTo(PanelRows::leading(rows.open) + QPoint(40, 0));
    EXPECT_EQ(hoveredOnce(rows, {QStringLiteral("Open")}), QStringList{QStringLiteral("Open")});

    // The menu opens under the field; its first entry ("System language") lies over the cleanup
    // row, and choosing it leaves the pointer there. The click waits for the menu to show there.
    const auto windowsShown = [&] {
        return desktop()
            .windows({QStringLiteral("--onlyvisible"), QStringLiteral("--pid"), QString::number(env->appPid())})
            .size();
    };
    const qsizetype withoutMenu = windowsShown();
    const auto menuShown = [&](bool shown) {
        return zq::test::waitFor([&] { return (windowsShown() > withoutMenu) == shown; }, 10s, 100ms);
    };
    const auto openMenu = [&] { return desktop().click(picker) && menuShown(true); };
    ASSERT_TRUE(openMenu()) << "the language menu did not open";
    // The menu takes the focus as it opens; read where its entries show once it stands still.
    AccessibilityEventListener::Event menuFocused;
    ASSERT_TRUE(focus->waitFor(
        [](const AccessibilityEventListener::Event &event) {
            return event.detail1 == 1 && event.sourceRole == QStringLiteral("popup menu") && event.window;
        },
        &menuFocused))
        << focus->heard().toStdString();
    const QImage menuOpen = settledScreenshot();
    zq::test::saveRender(menuOpen, QStringLiteral("desktop-panel-language-menu-open"));
    const std::shared_ptr<const AccessibleNode> menuWindow = focus->windowNow(menuFocused);
    ASSERT_TRUE(menuWindow);
    const AccessibleNode *systemLanguage = menuWindow->find([](const AccessibleNode &node) {
        return node.role == QStringLiteral("menu item") && node.name == QStringLiteral("System language");
    });
    ASSERT_TRUE(systemLanguage && systemLanguage->extents.isValid());
    const QPoint firstEntry(picker.x(), systemLanguage->extents.center().y());
    ASSERT_TRUE(rows.cleanup.contains(PanelRows::leading(rows.cleanup).x(), firstEntry.y()))
        << "the first entry lies over the cleanup row";
    ASSERT_TRUE(desktop().click(firstEntry));
    ASSERT_TRUE(menuShown(false)) << "choosing did not close the menu";
    const QImage closed = settledScreenshot();
    zq::test::saveRender(closed, QStringLiteral("desktop-panel-after-language-menu"));
    ASSERT_FALSE(desktop().visiblePanel().isEmpty()) << "choosing in the menu keeps the panel";
    const QStringList hovered = hoveredRows(closed, rows);
    EXPECT_LE(hovered.size(), 1) << hovered.join(QLatin1Char(',')).toStdString();
    EXPECT_FALSE(hovered.contains(QStringLiteral("Language"))) << "the pointer left it for the menu";

    // The menu again, closed with Escape; then the pointer moves down to the microphone row.
    ASSERT_TRUE(openMenu()) << "the language menu did not open again";
    ASSERT_TRUE(desktop().keys({QStringLiteral("Escape")}));
    ASSERT_TRUE(menuShown(false)) << "Escape did not close the menu";
    pointTo(PanelRows::leading(rows.microphone) + QPoint(40, 0));
    EXPECT_EQ(hoveredOnce(rows, {QStringLiteral("Microphone")}), QStringList{QStringLiteral("Microphone")});

    // The microphone menu, closed with the pointer outside the panel: no row keeps its highlight.
    ASSERT_TRUE(desktop().click(QPoint(picker.x(), rows.microphone.center().y())) && menuShown(true));
    ASSERT_TRUE(desktop().click(QPoint(panel.left() - 40, rows.microphone.center().y())));
    ASSERT_TRUE(menuShown(false)) << "a click outside did not close the menu";
    ASSERT_FALSE(desktop().visiblePanel().isEmpty()) << "the click closes the menu, not the panel";
    const QImage outside = settledScreenshot();
    zq::test::saveRender(outside, QStringLiteral("desktop-panel-menu-closed-outside"));
    EXPECT_EQ(hoveredRows(outside, rows), QStringList());

    // Closed and opened again with the pointer away from it: no row is hovered.
    ASSERT_TRUE(desktop().keys({QStringLiteral("Escape")}));
    ASSERT_TRUE(zq::test::waitFor([&] { return desktop().visiblePanel().isEmpty(); }, 5s, 50ms));
    const OpenedPanel reopened = openPanel();
    ASSERT_EQ(reopened.geometry, panel);
    const QImage again = reopened.screen;
    zq::test::saveRender(again, QStringLiteral("desktop-panel-reopened"));
    EXPECT_EQ(hoveredRows(again, rows), QStringList());

    // Hidden long enough for its window to be given back: it opens again built anew, the same.
    ASSERT_TRUE(desktop().keys({QStringLiteral("Escape")}));
    ASSERT_TRUE(env->waitForAppLog("its window is given back", zq::test::kLoadedMachineTimeout))
        << env->appLogTail().toStdString();
    const OpenedPanel rebuiltPanel = openPanel();
    ASSERT_EQ(rebuiltPanel.geometry, panel);
    const QImage rebuilt = rebuiltPanel.screen;
    zq::test::saveRender(rebuilt, QStringLiteral("desktop-panel-rebuilt"));
    EXPECT_TRUE(rebuilt.copy(panel) == again.copy(panel)) << "the rebuilt panel looks as it did";
    ASSERT_TRUE(desktop().keys({QStringLiteral("Tab")}));
    const QImage tabbed =
        settledOnce([&](const QImage &screen) { return !(screen.copy(panel) == rebuilt.copy(panel)); });
    zq::test::saveRender(tabbed, QStringLiteral("desktop-panel-rebuilt-tab"));
    EXPECT_FALSE(tabbed.copy(panel) == rebuilt.copy(panel)) << "Tab shows where the keyboard is";
    EXPECT_TRUE(env->stopApp());
}

TEST_F(MenuPanelDesktopE2ETest, TheIssueBannerOpensSupportAndLeavesNoPanelOnScreen)
{
    start(true);
    if (!ready())
        return;
    const auto mainWindowShown = [&] {
        return zq::test::waitFor(
            [&] {
                return !desktop()
                            .windows({QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                                      QStringLiteral("^ZEPA QUARN$")})
                            .isEmpty();
            },
            10s, 100ms);
    };
    // Once with the main window closed, once with it open behind the panel. Support shows the issue,
    // which takes the banner away: the second round is a desktop of its own with the issue unread,
    // whose main window is opened first (on its first page, so the issue stays unread).
    zq::test::OpenboxWindowManager secondOpenbox;
    for (const char *round : {"closed", "open"}) {
        if (round == std::string_view("open")) {
            ASSERT_TRUE(env->stopApp());
            env = std::make_unique<E2EEnvironment>(zq::test::Microphone::Live);
            ASSERT_TRUE(env->start()) << env->errorString().toStdString();
            ASSERT_TRUE(secondOpenbox.start(env->display())) << "openbox did not start";
            ASSERT_TRUE(env->writeSettings({{QStringLiteral("appearance"), QStringLiteral("light")}}));
            writeIncident();
            startApp();
            ASSERT_FALSE(HasFatalFailure());
            const OpenedPanel first = openPanel();
            ASSERT_TRUE(first.window) << focus->heard().toStdString() << env->appLogTail().toStdString();
            const AccessibleNode *openRow =
                first.window->findNamed(QStringLiteral("push button"), QStringLiteral("Open ZEPA QUARN…"));
            ASSERT_TRUE(openRow);
            ASSERT_TRUE(desktop().click(openRow->extents.center()));
            ASSERT_TRUE(mainWindowShown()) << env->appLogTail().toStdString();
            ASSERT_TRUE(zq::test::waitFor([&] { return desktop().visiblePanel().isEmpty(); }, 10s, 50ms));
        }
        const OpenedPanel panel = openPanel();
        ASSERT_TRUE(panel.window) << round << focus->heard().toStdString() << env->appLogTail().toStdString();
        zq::test::saveRender(panel.screen, QStringLiteral("desktop-panel-issue-banner-%1").arg(round));
        const AccessibleNode *banner = panel.window->find([](const AccessibleNode &node) {
            return node.name.startsWith(QStringLiteral("The microphone sent only silence")) && node.extents.isValid();
        });
        ASSERT_TRUE(banner) << round << ": no issue banner on the panel";
        ASSERT_TRUE(desktop().click(banner->extents.center()));
        EXPECT_TRUE(mainWindowShown()) << round << env->appLogTail().toStdString();
        const QImage screen = settledScreenshot();
        zq::test::saveRender(screen, QStringLiteral("desktop-support-after-issue-banner-%1").arg(round));
        EXPECT_TRUE(desktop().visiblePanel().isEmpty()) << round << ": the panel stays over the window it opened";
    }
    EXPECT_TRUE(env->stopApp());
}

TEST_F(MenuPanelDesktopE2ETest, WithACompositorThePanelIsRoundedAndCastsAShadow)
{
    env = std::make_unique<E2EEnvironment>(zq::test::Microphone::Live);
    if (!zq::test::requireService(env->start(), env->errorString()))
        return;
    zq::test::CompositingManager compositor;
    ASSERT_TRUE(compositor.start(env->display())) << compositor.errorString().toStdString();
    // In dark, where a shadow has the hardest time.
    ASSERT_TRUE(env->writeSettings({{QStringLiteral("appearance"), QStringLiteral("dark")}}));
    ASSERT_TRUE(env->startApp()) << env->errorString().toStdString();

    const QRect window = desktop().openPanel();
    ASSERT_TRUE(window.isValid()) << env->appLogTail().toStdString();
    const QImage screen = settledScreenshot();
    zq::test::saveRender(screen, QStringLiteral("desktop-panel-composited"));
    // The window holds the shadow around the 372-point panel.
    ASSERT_GT(window.width(), 372);
    const int margin = (window.width() - 372) / 2;
    const QRect panel(window.left() + margin, window.top() + margin - 3, 372, 0);
    const QColor background = Palette::color(Palette::background, ColorScheme::dark);
    EXPECT_TRUE(zq::test::sameColor(screen.pixelColor(panel.center().x(), panel.top() + 6), background, 3));
    // Rounded: the panel's top corner shows the desktop, not the panel.
    EXPECT_FALSE(zq::test::sameColor(screen.pixelColor(panel.left() + 1, panel.top() + 1), background, 20));
    // The shadow darkens the desktop (the compositor's grey) just beside the panel and fades out
    // before the window's edge.
    const QColor desktopGrey = screen.pixelColor(300, 600);
    const QColor beside = screen.pixelColor(panel.left() - 3, panel.top() + 100);
    const QColor away = screen.pixelColor(window.left() - 20, panel.top() + 100);
    EXPECT_LT(beside.lightness(), desktopGrey.lightness() - 3) << beside.name().toStdString();
    EXPECT_TRUE(zq::test::sameColor(away, desktopGrey, 2)) << away.name().toStdString();
    EXPECT_TRUE(env->stopApp());
}

TEST_F(MenuPanelDesktopE2ETest, OnceTheTriggerRunsTheHeaderIsThatOfAPanelThatNeverOfferedEnableDictation)
{
    env = std::make_unique<E2EEnvironment>(zq::test::Microphone::Live);
    if (!zq::test::requireService(env->start(), env->errorString()))
        return;
    ASSERT_TRUE(openbox.start(env->display())) << "openbox did not start";
    const QPoint away(200, 700);
    // The panel's top rows: its padding and the header, down to the first block under it (the
    // week's recap), short of where that block's focus ring would show.
    const auto header = [](const QImage &screen, const QRect &panel, const AccessibleNode &window) {
        const AccessibleNode *recap = window.find(
            [](const AccessibleNode &node) { return node.name.startsWith(QStringLiteral("This week, WEEK ")); });
        EXPECT_TRUE(recap) << "no week's recap on the panel";
        return recap ? screen.copy(panel.left(), panel.top(), panel.width(), recap->extents.top() - 4 - panel.top())
                     : QImage();
    };

    // Until Welcome is done the trigger waits, and the header offers "Enable Dictation".
    ASSERT_TRUE(env->writeSettings(
        {{QStringLiteral("appearance"), QStringLiteral("light")}, {QStringLiteral("onboarded"), false}}));
    startApp(30s, QByteArrayLiteral("onboarding: microphone"));
    if (HasFatalFailure())
        return;
    const OpenedPanel offeredPanel = openPanel();
    const QRect offered = offeredPanel.geometry;
    ASSERT_TRUE(offeredPanel.window) << focus->heard().toStdString() << env->appLogTail().toStdString();
    const AccessibleNode &offeredWindow = *offeredPanel.window;
    const AccessibleNode *enable =
        offeredWindow.findNamed(QStringLiteral("push button"), QStringLiteral("Enable Dictation"));
    ASSERT_TRUE(enable && offered.contains(enable->extents)) << "no Enable Dictation on the panel";
    pointTo(away);
    // Opened with the pointer, the panel holds the keyboard at its first control (Enable Dictation:
    // with no transcript Copy Last is off) but shows no ring: the header is as it is once Tab has
    // taken the focus on, and Shift+Tab back brings the ring to it.
    const QImage opened = settledScreenshot();
    zq::test::saveRender(opened, QStringLiteral("desktop-panel-enable-offered"));
    EXPECT_EQ(ringPixels(opened, offered, offeredWindow), 0);
    ASSERT_TRUE(desktop().keys({QStringLiteral("Tab")}));
    const QImage tabbed =
        settledOnce([&](const QImage &screen) { return ringPixels(screen, offered, offeredWindow) > 20; });
    zq::test::saveRender(tabbed, QStringLiteral("desktop-panel-enable-offered-tab"));
    EXPECT_GT(ringPixels(tabbed, offered, offeredWindow), 20) << "Tab shows the ring on the card it reaches";
    ASSERT_TRUE(desktop().keys({QStringLiteral("shift+Tab")}));
    const QImage back = settledOnce([&](const QImage &screen) {
        return !(header(screen, offered, offeredWindow) == header(opened, offered, offeredWindow));
    });
    zq::test::saveRender(back, QStringLiteral("desktop-panel-enable-offered-backtab"));
    EXPECT_TRUE(header(opened, offered, offeredWindow) == header(tabbed, offered, offeredWindow))
        << "a ring on the first control after a click";
    EXPECT_FALSE(header(back, offered, offeredWindow) == header(opened, offered, offeredWindow))
        << "no ring on Enable Dictation after Shift+Tab";
    ASSERT_TRUE(desktop().click(enable->extents.center()));
    ASSERT_TRUE(env->waitForAppLog("hotkey: tap started", zq::test::kLoadedMachineTimeout))
        << env->appLogTail().toStdString();
    // The button hid under the click and the focus moved on to the card below it.
    AccessibilityEventListener::Event movedOn;
    ASSERT_TRUE(focus->waitFor(
        [](const AccessibilityEventListener::Event &event) {
            return event.detail1 == 1 && event.window && event.sourceName != QStringLiteral("Enable Dictation");
        },
        &movedOn))
        << focus->heard().toStdString();
    pointTo(away);
    const QImage afterTap = settledScreenshot();
    const std::shared_ptr<const AccessibleNode> startedWindow = focus->windowNow(movedOn);
    ASSERT_TRUE(startedWindow);
    const QStringList visible = desktop().visiblePanel();
    ASSERT_FALSE(visible.isEmpty()) << "the panel stays";
    const QRect started = desktop().geometry(visible.front());
    zq::test::saveRender(afterTap, QStringLiteral("desktop-panel-tap-started"));
    // ... without a ring.
    EXPECT_EQ(ringPixels(afterTap, started, *startedWindow), 0);
    ASSERT_TRUE(env->stopApp());

    // The trigger runs from launch: the header never held the button. A desktop of its own, the
    // same size.
    env = std::make_unique<E2EEnvironment>(zq::test::Microphone::Live);
    ASSERT_TRUE(env->start()) << env->errorString().toStdString();
    zq::test::OpenboxWindowManager secondOpenbox;
    ASSERT_TRUE(secondOpenbox.start(env->display())) << "openbox did not start";
    ASSERT_TRUE(env->writeSettings({{QStringLiteral("appearance"), QStringLiteral("light")}}));
    startApp();
    if (HasFatalFailure())
        return;
    const OpenedPanel plainPanel = openPanel();
    const QRect plain = plainPanel.geometry;
    ASSERT_TRUE(plainPanel.window) << focus->heard().toStdString() << env->appLogTail().toStdString();
    pointTo(away);
    const QImage never = settledScreenshot();
    zq::test::saveRender(never, QStringLiteral("desktop-panel-tap-running"));
    EXPECT_EQ(started.size(), plain.size());
    EXPECT_TRUE(header(afterTap, started, *startedWindow) == header(never, plain, *plainPanel.window))
        << "the header keeps a trace of the button";
    EXPECT_TRUE(env->stopApp());
}
