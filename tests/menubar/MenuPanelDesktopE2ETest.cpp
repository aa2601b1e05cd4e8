// The real application in a tray under a window manager, as a user meets the panel: hover after a
// menu has held the pointer, the issue banner that opens Support takes the panel away first, and the
// keyboard focus shows its ring only once the keyboard moves it.
#include "menubar/brand/Palette.h"
#include "records/DictationIncident.h"
#include "records/StoreFile.h"
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
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>

#include <gtest/gtest.h>

#include <memory>

using namespace std::chrono_literals;
using zq::ColorScheme;
using zq::Palette;
using zq::test::E2EEnvironment;

namespace {

// A compositing manager that draws nothing of its own (no shadows): what the application paints is
// what shows.
class Compositor {
public:
    bool start(const QString &display)
    {
        zq::test::ChildSpec spec;
        spec.program = QStringLiteral("xcompmgr");
        spec.environment.insert(QStringLiteral("DISPLAY"), display);
        spec.logPath = m_log.filePath(QStringLiteral("xcompmgr.log"));
        if (!m_process.start(spec))
            return false;
        // It takes the compositing selection at once; one that cannot has exited by then.
        QThread::msleep(300);
        return m_process.isRunning();
    }

private:
    QTemporaryDir m_log;
    zq::test::ChildProcess m_process;
};

// The panel's rows, from its bottom edge up: the footer card (Open with its subtitle, 49 points;
// Quit, 44), the microphone card and the language card (Language, AI cleanup), 1-point dividers,
// cards 10 apart inside 12 points of padding.
struct PanelRows {
    explicit PanelRows(const QRect &panel)
    {
        const int bottom = panel.bottom() + 1 - 12;
        quit = bottom - 22;
        open = bottom - 44 - 1 - 24;
        const int footer = 44 + 1 + 49;
        microphone = bottom - footer - 10 - 22;
        cleanup = bottom - footer - 10 - 44 - 10 - 22;
        language = cleanup - 45;
        leading = panel.left() + 12 + 4;
    }
    int language, cleanup, microphone, open, quit;
    // Inside a card, left of the icon tiles: only the card's surface or a row's hover fill.
    int leading;
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
        ASSERT_TRUE(env->startApp()) << env->errorString().toStdString();
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
        const std::pair<const char *, int> all[] = {{"Language", rows.language},
                                                    {"AI cleanup", rows.cleanup},
                                                    {"Microphone", rows.microphone},
                                                    {"Open", rows.open},
                                                    {"Quit", rows.quit}};
        QStringList names;
        for (const auto &[name, y] : all) {
            if (!zq::test::sameColor(screen.pixelColor(rows.leading, y), surface, 3))
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
                QThread::msleep(200);
                QImage shot = desktop().screenshot();
                const bool same = shot == last;
                last = std::move(shot);
                return same;
            },
            10s, 1ms);
        return last;
    }

    // Pixels of the focus colour down the cards' leading edge, where a card's focus ring runs (the
    // ring of a banner or the recap; a row or a picker shows its focus elsewhere).
    static int ringPixels(const QImage &screen, const QRect &panel)
    {
        const QColor focus = Palette::color(Palette::focus, ColorScheme::light);
        int count = 0;
        for (int y = panel.top(); y <= panel.bottom(); ++y) {
            for (int x : {panel.left() + 12, panel.left() + 13})
                count += zq::test::sameColor(screen.pixelColor(x, y), focus, 30) ? 1 : 0;
        }
        return count;
    }

    std::unique_ptr<E2EEnvironment> env;
    zq::test::OpenboxWindowManager openbox;
};

} // namespace

TEST_F(MenuPanelDesktopE2ETest, AfterTheLanguageMenuClosesOneRowAtMostIsHovered)
{
    start(false);
    if (!ready())
        return;
    const QRect panel = desktop().openPanel();
    ASSERT_TRUE(panel.isValid()) << env->appLogTail().toStdString();
    const PanelRows rows(panel);
    // Over the picker's trailing end (its chevron), whatever its width.
    const QPoint picker(panel.right() + 1 - 12 - 11 - 14, rows.language);
    pointTo(QPoint(rows.leading + 40, rows.open));
    EXPECT_EQ(hoveredOnce(rows, {QStringLiteral("Open")}), QStringList{QStringLiteral("Open")});

    // The menu opens under the field; its first entry ("System language") lies over the cleanup
    // row, and choosing it leaves the pointer there. The click waits for the menu to show there.
    const QPoint firstEntry(picker.x(), rows.language + 14 + 4 + 5 + 12);
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
    zq::test::saveRender(settledScreenshot(), QStringLiteral("desktop-panel-language-menu-open"));
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
    pointTo(QPoint(rows.leading + 40, rows.microphone));
    EXPECT_EQ(hoveredOnce(rows, {QStringLiteral("Microphone")}), QStringList{QStringLiteral("Microphone")});

    // The microphone menu, closed with the pointer outside the panel: no row keeps its highlight.
    ASSERT_TRUE(desktop().click(QPoint(picker.x(), rows.microphone)) && menuShown(true));
    ASSERT_TRUE(desktop().click(QPoint(panel.left() - 40, rows.microphone)));
    ASSERT_TRUE(menuShown(false)) << "a click outside did not close the menu";
    ASSERT_FALSE(desktop().visiblePanel().isEmpty()) << "the click closes the menu, not the panel";
    const QImage outside = settledScreenshot();
    zq::test::saveRender(outside, QStringLiteral("desktop-panel-menu-closed-outside"));
    EXPECT_EQ(hoveredRows(outside, rows), QStringList());

    // Closed and opened again with the pointer away from it: no row is hovered.
    ASSERT_TRUE(desktop().keys({QStringLiteral("Escape")}));
    ASSERT_TRUE(zq::test::waitFor([&] { return desktop().visiblePanel().isEmpty(); }, 5s, 50ms));
    const QRect reopened = desktop().openPanel();
    ASSERT_EQ(reopened, panel);
    QThread::msleep(300);
    const QImage again = settledScreenshot();
    zq::test::saveRender(again, QStringLiteral("desktop-panel-reopened"));
    EXPECT_EQ(hoveredRows(again, rows), QStringList());

    // Hidden long enough for its window to be given back: it opens again built anew, the same.
    ASSERT_TRUE(desktop().keys({QStringLiteral("Escape")}));
    ASSERT_TRUE(env->waitForAppLog("its window is given back", 10s)) << env->appLogTail().toStdString();
    ASSERT_EQ(desktop().openPanel(), panel);
    QThread::msleep(300);
    const QImage rebuilt = settledScreenshot();
    zq::test::saveRender(rebuilt, QStringLiteral("desktop-panel-rebuilt"));
    EXPECT_TRUE(rebuilt.copy(panel) == again.copy(panel)) << "the rebuilt panel looks as it did";
    ASSERT_TRUE(desktop().keys({QStringLiteral("Tab")}));
    QThread::msleep(300);
    const QImage tabbed = desktop().screenshot();
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
    // Once with the main window closed, once with it open behind the panel.
    for (const char *round : {"closed", "open"}) {
        const QRect panel = desktop().openPanel();
        ASSERT_TRUE(panel.isValid()) << round << env->appLogTail().toStdString();
        QThread::msleep(900);
        zq::test::saveRender(desktop().screenshot(), QStringLiteral("desktop-panel-issue-banner-%1").arg(round));
        // The banner is the first block under the header (12 of padding, a 34-point header, 10 apart).
        ASSERT_TRUE(desktop().click(QPoint(panel.center().x(), panel.top() + 12 + 34 + 10 + 22)));
        EXPECT_TRUE(mainWindowShown()) << round << env->appLogTail().toStdString();
        QThread::msleep(600);
        const QImage screen = desktop().screenshot();
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
    Compositor compositor;
    ASSERT_TRUE(compositor.start(env->display())) << "xcompmgr did not start";
    // In dark, where a shadow has the hardest time.
    ASSERT_TRUE(env->writeSettings({{QStringLiteral("appearance"), QStringLiteral("dark")}}));
    ASSERT_TRUE(env->startApp()) << env->errorString().toStdString();

    const QRect window = desktop().openPanel();
    ASSERT_TRUE(window.isValid()) << env->appLogTail().toStdString();
    QThread::msleep(900);
    const QImage screen = desktop().screenshot();
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
    // The panel's top rows: its padding and the header, down to the first block under it.
    const auto header = [](const QImage &screen, const QRect &panel) {
        return screen.copy(panel.left(), panel.top(), panel.width(), 12 + 34 + 6);
    };

    // Until Welcome is done the trigger waits, and the header offers "Enable Dictation".
    ASSERT_TRUE(env->writeSettings(
        {{QStringLiteral("appearance"), QStringLiteral("light")}, {QStringLiteral("onboarded"), false}}));
    ASSERT_TRUE(env->startApp(30s, QByteArrayLiteral("onboarding: microphone"))) << env->errorString().toStdString();
    const QRect offered = desktop().openPanel();
    ASSERT_TRUE(offered.isValid()) << env->appLogTail().toStdString();
    pointTo(away);
    QThread::msleep(900);
    // Opened with the pointer, the panel holds the keyboard at its first control (Enable Dictation:
    // with no transcript Copy Last is off) but shows no ring: the header is as it is once Tab has
    // taken the focus on, and Shift+Tab back brings the ring to it.
    const QImage opened = desktop().screenshot();
    zq::test::saveRender(opened, QStringLiteral("desktop-panel-enable-offered"));
    EXPECT_EQ(ringPixels(opened, offered), 0);
    ASSERT_TRUE(desktop().keys({QStringLiteral("Tab")}));
    QThread::msleep(300);
    const QImage tabbed = desktop().screenshot();
    zq::test::saveRender(tabbed, QStringLiteral("desktop-panel-enable-offered-tab"));
    EXPECT_GT(ringPixels(tabbed, offered), 20) << "Tab shows the ring on the card it reaches";
    ASSERT_TRUE(desktop().keys({QStringLiteral("shift+Tab")}));
    QThread::msleep(300);
    const QImage back = desktop().screenshot();
    zq::test::saveRender(back, QStringLiteral("desktop-panel-enable-offered-backtab"));
    EXPECT_TRUE(header(opened, offered) == header(tabbed, offered)) << "a ring on the first control after a click";
    EXPECT_FALSE(header(back, offered) == header(opened, offered)) << "no ring on Enable Dictation after Shift+Tab";
    // The button is the header's trailing control.
    ASSERT_TRUE(desktop().click(QPoint(offered.right() + 1 - 12 - 4 - 30, offered.top() + 12 + 6 + 14)));
    ASSERT_TRUE(env->waitForAppLog("hotkey: tap started", 10s)) << env->appLogTail().toStdString();
    pointTo(away);
    QThread::msleep(500);
    const QStringList visible = desktop().visiblePanel();
    ASSERT_FALSE(visible.isEmpty()) << "the panel stays";
    const QRect started = desktop().geometry(visible.front());
    const QImage afterTap = desktop().screenshot();
    zq::test::saveRender(afterTap, QStringLiteral("desktop-panel-tap-started"));
    // The button hid under the click and the focus moved on to the card below it, without a ring.
    EXPECT_EQ(ringPixels(afterTap, started), 0);
    ASSERT_TRUE(env->stopApp());

    // The trigger runs from launch: the header never held the button. A desktop of its own, the
    // same size.
    env = std::make_unique<E2EEnvironment>(zq::test::Microphone::Live);
    ASSERT_TRUE(env->start()) << env->errorString().toStdString();
    zq::test::OpenboxWindowManager secondOpenbox;
    ASSERT_TRUE(secondOpenbox.start(env->display())) << "openbox did not start";
    ASSERT_TRUE(env->writeSettings({{QStringLiteral("appearance"), QStringLiteral("light")}}));
    ASSERT_TRUE(env->startApp()) << env->errorString().toStdString();
    const QRect plain = desktop().openPanel();
    ASSERT_TRUE(plain.isValid()) << env->appLogTail().toStdString();
    pointTo(away);
    QThread::msleep(900);
    const QImage never = desktop().screenshot();
    zq::test::saveRender(never, QStringLiteral("desktop-panel-tap-running"));
    EXPECT_EQ(started.size(), plain.size());
    EXPECT_TRUE(header(afterTap, started) == header(never, plain)) << "the header keeps a trace of the button";
    EXPECT_TRUE(env->stopApp());
}
