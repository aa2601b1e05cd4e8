#include "pipeline/Paster.h"
#include "pipeline/TriggerKey.h"

#include "support/FakeKeySynthesizer.h"
#include "support/FakePasteboard.h"
#include "support/VirtualLoop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

using namespace zq;
using namespace std::chrono_literals;
using zq::test::FakeKeySynthesizer;
using zq::test::FakePasteboard;
using zq::test::FakeScreenLock;
using zq::test::VirtualLoop;

namespace {

const platform::PasteboardItem kImageAndText = {{QStringLiteral("image/png"), QByteArray("\x89PNG-bytes")},
                                                {QStringLiteral("text/plain"), QByteArray("caption")}};

// A paster on fakes; the keys type what the clipboard holds.
struct PasterRig {
    VirtualLoop loop;
    FakePasteboard pasteboard;
    FakeKeySynthesizer keys{[this] { return pasteboard.text(); }};
    FakeScreenLock screenLock;
    Paster paster{pasteboard, keys, screenLock, loop};
};

class PasterTest : public ::testing::Test, protected PasterRig {};

TEST_F(PasterTest, PastesTheTextAndRestoresEveryTypeOfThePreviousClipboard)
{
    pasteboard.copyFromOtherApplication({kImageAndText});
    EXPECT_TRUE(paster.paste(QStringLiteral("héllo wörld ✓")));
    EXPECT_EQ(keys.pastedTexts(), QStringList{QStringLiteral("héllo wörld ✓")}) << "the chord sees the text";
    EXPECT_EQ(pasteboard.text(), QStringLiteral("héllo wörld ✓"));

    loop.advance(599ms);
    EXPECT_EQ(pasteboard.text(), QStringLiteral("héllo wörld ✓")) << "not restored before 0.6 s";
    loop.advance(1ms);
    ASSERT_EQ(pasteboard.items().size(), 1u);
    EXPECT_EQ(pasteboard.items().front(), kImageAndText) << "both types back in one item";
    EXPECT_FALSE(paster.hasPendingWork());
}

TEST_F(PasterTest, AnEmptyClipboardIsEmptyAgainAfterTheRestore)
{
    EXPECT_TRUE(paster.paste(QStringLiteral("text")));
    loop.advance(600ms);
    EXPECT_TRUE(pasteboard.items().empty());
}

TEST_F(PasterTest, ACopyMadeWithinTheDelayIsKept)
{
    pasteboard.copyFromOtherApplication({kImageAndText});
    paster.paste(QStringLiteral("dictated"));
    loop.advance(300ms);
    pasteboard.copyFromOtherApplication({{{QStringLiteral("text/plain"), QByteArray("copied later")}}});
    const int writes = pasteboard.writeCount();
    loop.advance(1s);
    EXPECT_EQ(pasteboard.text(), QStringLiteral("copied later"));
    EXPECT_EQ(pasteboard.writeCount(), writes) << "the restore does not touch the clipboard";
}

TEST_F(PasterTest, ScreenLockLeavesOnlyTheTextAndPostsNothing)
{
    pasteboard.copyFromOtherApplication({kImageAndText});
    screenLock.setLocked(true);
    EXPECT_FALSE(paster.paste(QStringLiteral("secret")));
    EXPECT_EQ(keys.chordCount(), 0);
    ASSERT_EQ(pasteboard.items().size(), 1u);
    EXPECT_EQ(pasteboard.items().front(),
              (platform::PasteboardItem{{QStringLiteral("text/plain"), QByteArray("secret")}}));
    EXPECT_FALSE(paster.hasPendingWork());
    loop.advance(2s);
    EXPECT_EQ(pasteboard.text(), QStringLiteral("secret")) << "the text stays for a paste by hand";
}

// Two pastes close together used to lose the user's clipboard: the second snapshot held the first
// dictated text, and that is what came back. A clipboard manager taking the first text over (it offers
// the same text as its own) is no copy by the user either.
TEST_F(PasterTest, ASecondPasteWithinTheDelayRestoresTheUsersClipboard)
{
    for (const bool managerTakesOver : {false, true}) {
        SCOPED_TRACE(managerTakesOver ? "taken over by a clipboard manager" : "untouched");
        pasteboard.copyFromOtherApplication({kImageAndText});
        paster.paste(QStringLiteral("first"));
        if (managerTakesOver)
            pasteboard.copyFromOtherApplication({{{QStringLiteral("text/plain"), QByteArray("first")}}});
        loop.advance(200ms);
        paster.paste(QStringLiteral("second"));
        EXPECT_EQ(keys.pastedTexts().mid(keys.pastedTexts().size() - 2),
                  (QStringList{QStringLiteral("first"), QStringLiteral("second")}));

        loop.advance(599ms);
        EXPECT_EQ(pasteboard.text(), QStringLiteral("second")) << "the first restore was cancelled";
        loop.advance(1ms);
        ASSERT_EQ(pasteboard.items().size(), 1u);
        EXPECT_EQ(pasteboard.items().front(), kImageAndText);
    }
}

TEST_F(PasterTest, ACopyBetweenTwoPastesIsWhatTheSecondRestores)
{
    pasteboard.copyFromOtherApplication({kImageAndText});
    paster.paste(QStringLiteral("first"));
    loop.advance(100ms);
    pasteboard.copyFromOtherApplication({{{QStringLiteral("text/plain"), QByteArray("newer copy")}}});
    paster.paste(QStringLiteral("second"));
    loop.advance(600ms);
    EXPECT_EQ(pasteboard.text(), QStringLiteral("newer copy"));
}

TEST_F(PasterTest, HeldModifiersDelayTheChordAndTheRestoreFollowsTheChord)
{
    keys.setHeldModifiers(ModifierFlag::shift | ModifierFlag::option);
    pasteboard.copyFromOtherApplication({kImageAndText});
    EXPECT_TRUE(paster.paste(QStringLiteral("text")));
    EXPECT_EQ(keys.chordCount(), 0) << "Shift and Alt would make it another shortcut";

    loop.advance(300ms);
    EXPECT_EQ(keys.chordCount(), 0);
    keys.setHeldModifiers(0);
    loop.advance(20ms);
    EXPECT_EQ(keys.pastedTexts(), QStringList{QStringLiteral("text")});

    loop.advance(590ms);
    EXPECT_EQ(pasteboard.text(), QStringLiteral("text")) << "0.6 s are counted from the chord";
    loop.advance(10ms);
    EXPECT_EQ(pasteboard.items().front(), kImageAndText);
}

TEST_F(PasterTest, AModifierHeldTooLongNoLongerHoldsTheChordBack)
{
    keys.setHeldModifiers(ModifierFlag::command);
    paster.paste(QStringLiteral("text"));
    loop.advance(980ms);
    EXPECT_EQ(keys.chordCount(), 0);
    loop.advance(20ms);
    EXPECT_EQ(keys.chordCount(), 1) << "posted anyway after one second";
}

TEST_F(PasterTest, APasteArrivingWhileTheChordWaitsPostsItFirst)
{
    keys.setHeldModifiers(ModifierFlag::shift);
    pasteboard.copyFromOtherApplication({kImageAndText});
    paster.paste(QStringLiteral("first"));
    keys.setHeldModifiers(0);
    paster.paste(QStringLiteral("second"));
    EXPECT_EQ(keys.pastedTexts(), (QStringList{QStringLiteral("first"), QStringLiteral("second")}));
    loop.advance(600ms);
    EXPECT_EQ(pasteboard.items().front(), kImageAndText);
    EXPECT_EQ(keys.chordCount(), 2) << "the waiting chord is not posted a second time";
}

// Where the clipboard tells when it is fetched, the restore waits for the front window to fetch the text
// after the chord: never before 0.6 s, at the latest 5 s after the chord, when a text that nobody fetched
// stays (the window never took it) and the paster says so. Times are from the paste. A clipboard manager
// that takes the text over serves the window itself, out of sight: the restore does not wait for it.
TEST(PasterFetchTest, TheRestoreWaitsForTheFrontWindowToFetchTheText)
{
    struct Case {
        const char *name;
        std::chrono::milliseconds modifiersLetGoAt; // 0: none held; the chord follows at the next check
        std::optional<std::chrono::milliseconds> fetchAt;
        std::optional<std::chrono::milliseconds> copyAt;
        std::chrono::milliseconds restoredAt; // or given up on
        bool textStays;
        const char *copied = "copied"; // "dictated": a clipboard manager took the text over
    };
    const Case cases[] = {
        {"fetched at once", 0ms, 10ms, std::nullopt, 600ms, false},
        {"fetched late", 0ms, 1510ms, std::nullopt, 1520ms, false},
        {"never fetched", 0ms, std::nullopt, std::nullopt, 5000ms, true},
        {"fetched only before the chord", 90ms, 50ms, std::nullopt, 5100ms, true},
        {"copied over while unfetched", 0ms, std::nullopt, 1010ms, 1020ms, false},
        {"taken over by a clipboard manager", 0ms, std::nullopt, 10ms, 600ms, false, "dictated"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PasterRig r;
        auto &[loop, pasteboard, keys, screenLock, paster] = r;
        pasteboard.tellFetches();
        int notFetched = 0;
        paster.setOnNotFetched([&] { ++notFetched; });
        pasteboard.copyFromOtherApplication({kImageAndText});
        const rt::Nanos start = loop.now();
        auto advanceTo = [&](std::chrono::milliseconds at) { loop.advance(start + at - loop.now()); };

        if (c.modifiersLetGoAt > 0ms)
            keys.setHeldModifiers(ModifierFlag::shift);
        ASSERT_TRUE(paster.paste(QStringLiteral("dictated")));
        bool through = false;
        ASSERT_TRUE(paster.whenFetched([&] { through = true; }));
        std::vector<std::pair<std::chrono::milliseconds, std::function<void()>>> events;
        if (c.modifiersLetGoAt > 0ms)
            events.emplace_back(c.modifiersLetGoAt, [&] { keys.setHeldModifiers(0); });
        if (c.fetchAt)
            events.emplace_back(*c.fetchAt, [&] { pasteboard.fetchFromOtherApplication(); });
        if (c.copyAt)
            events.emplace_back(*c.copyAt, [&] {
                pasteboard.copyFromOtherApplication({{{QStringLiteral("text/plain"), QByteArray(c.copied)}}});
            });
        std::sort(events.begin(), events.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        for (const auto &[at, act] : events) {
            advanceTo(at);
            act();
        }
        advanceTo(c.restoredAt - 1ms);
        EXPECT_TRUE(paster.hasPendingWork()) << "restored too early";
        EXPECT_EQ(pasteboard.text(), QLatin1String(c.copyAt ? c.copied : "dictated"));
        advanceTo(c.restoredAt);
        EXPECT_FALSE(paster.hasPendingWork()) << "not restored in time";
        EXPECT_EQ(keys.chordCount(), 1);
        EXPECT_EQ(notFetched, c.textStays ? 1 : 0);
        EXPECT_NE(through, c.textStays) << "the wait ends once, one way or the other";
        if (c.copyAt && QLatin1String(c.copied) != QLatin1String("dictated"))
            EXPECT_EQ(pasteboard.text(), QLatin1String(c.copied)) << "another copy is kept";
        else if (c.textStays)
            EXPECT_EQ(pasteboard.text(), QStringLiteral("dictated")) << "the unfetched text was replaced";
        else
            EXPECT_EQ(pasteboard.items(), std::vector<platform::PasteboardItem>{kImageAndText});
    }
}

// A paste made while the text before it waits for the window's fetch waits its turn: the window's first
// shortcut would otherwise fetch the second text, and the first would be lost. It goes out once the first
// is through (fetched, or given up at its limit); a locked screen gives both up, and a quit drops it.
TEST(PasterFetchTest, APasteWaitsWhileTheTextBeforeItIsUnfetched)
{
    struct Case {
        const char *name;
        std::function<void(PasterRig &)> then;
        QStringList chorded; // the clipboard at each chord
        std::vector<std::string> told;
        const char *clipboardAfter; // the text it holds in the end; null: the user's clipboard
    };
    const auto fetch = [](PasterRig &r) {
        r.pasteboard.fetchFromOtherApplication();
        r.loop.advance(600ms);
    };
    const QStringList both{QStringLiteral("first"), QStringLiteral("second")};
    const Case cases[] = {
        {"both fetched",
         [&](PasterRig &r) {
             fetch(r);
             fetch(r);
         },
         both,
         {"first fetched", "second fetched"},
         nullptr},
        {"the first never fetched",
         [&](PasterRig &r) {
             r.loop.advance(Paster::fetchWaitLimit);
             fetch(r);
         },
         both,
         {"not fetched", "second fetched"},
         "first"},
        {"the screen locked",
         [](PasterRig &r) {
             r.screenLock.setLocked(true);
             EXPECT_FALSE(r.paster.paste(QStringLiteral("third")));
         },
         {QStringLiteral("first")},
         {"not fetched", "not fetched"},
         "third"},
        {"a quit",
         [](PasterRig &r) {
             r.paster.handOverAtQuit();
             r.loop.advance(Paster::fetchWaitLimit * 2);
         },
         {QStringLiteral("first")},
         {},
         nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PasterRig r;
        r.pasteboard.tellFetches();
        std::vector<std::string> told;
        r.paster.setOnNotFetched([&] { told.push_back("not fetched"); });
        r.pasteboard.copyFromOtherApplication({kImageAndText});
        for (const char *text : {"first", "second"}) {
            ASSERT_TRUE(r.paster.paste(QLatin1String(text)));
            ASSERT_TRUE(r.paster.whenFetched([&told, text] { told.push_back(std::string(text) + " fetched"); }));
        }
        EXPECT_EQ(r.keys.pastedTexts(), QStringList{QStringLiteral("first")});
        c.then(r);
        EXPECT_EQ(r.keys.pastedTexts(), c.chorded);
        EXPECT_EQ(told, c.told);
        EXPECT_FALSE(r.paster.hasPendingWork());
        if (c.clipboardAfter)
            EXPECT_EQ(r.pasteboard.text(), QLatin1String(c.clipboardAfter));
        else
            EXPECT_EQ(r.pasteboard.items(), std::vector<platform::PasteboardItem>{kImageAndText});
    }
}

// Control+V types a control character in a terminal: the chord follows the window in front.
TEST(PasterRouteTest, TheChordFollowsTheClassOfTheWindowInFront)
{
    using platform::PasteChord;
    struct Case {
        platform::WindowClass windowClass;
        Paster::Route route;
    };
    const Case cases[] = {
        {{QStringLiteral("xterm"), QStringLiteral("XTerm")}, {PasteChord::shiftInsert, true}},
        {{QStringLiteral("urxvt"), QStringLiteral("URxvt")}, {PasteChord::shiftInsert, true}},
        {{QStringLiteral("gnome-terminal-server"), QStringLiteral("Gnome-terminal")},
         {PasteChord::controlShiftV, false}},
        {{QStringLiteral("lxterminal"), QStringLiteral("Lxterminal")}, {PasteChord::controlShiftV, false}},
        {{QStringLiteral("Alacritty"), QStringLiteral("Alacritty")}, {PasteChord::controlShiftV, false}},
        {{QStringLiteral("st-256color"), QStringLiteral("st-256color")}, {PasteChord::controlShiftV, false}},
        {{QStringLiteral("kate"), QStringLiteral("kate")}, {PasteChord::controlV, false}},
        {{QStringLiteral("xtermish"), QStringLiteral("Xtermish")}, {PasteChord::controlV, false}},
        {{}, {PasteChord::controlV, false}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.windowClass.name.toStdString());
        EXPECT_EQ(Paster::routeFor(c.windowClass), c.route);
    }
}

// xterm pastes the primary selection with Shift+Insert: the text goes there too, and the user's
// selection comes back like the clipboard; a fetch of either is the window taking the text.
TEST(PasterPrimaryTest, ATerminalPastingThePrimarySelectionGetsItAndTheSelectionComesBack)
{
    const platform::PasteboardItem selected = {{QStringLiteral("text/plain"), QByteArray("selected words")}};
    struct Case {
        const char *name;
        std::function<void(FakePasteboard &clipboard, FakePasteboard &primary)> during;
        QString primaryAfter;
    };
    const Case cases[] = {
        {"fetched from the primary selection",
         [](FakePasteboard &, FakePasteboard &primary) { primary.fetchFromOtherApplication(); },
         QStringLiteral("selected words")},
        {"a new selection meanwhile",
         [](FakePasteboard &clipboard, FakePasteboard &primary) {
             clipboard.fetchFromOtherApplication();
             primary.copyFromOtherApplication({{{QStringLiteral("text/plain"), QByteArray("newer")}}});
         },
         QStringLiteral("newer")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        VirtualLoop loop;
        FakePasteboard clipboard;
        FakePasteboard primary;
        clipboard.tellFetches();
        primary.tellFetches();
        FakeKeySynthesizer keys{[&] { return primary.text(); }};
        FakeScreenLock screenLock;
        zq::test::FakeFrontWindow front;
        front.setWindowClass({QStringLiteral("xterm"), QStringLiteral("XTerm")});
        Paster paster{clipboard, keys, screenLock, loop, {&primary, &front}};
        clipboard.copyFromOtherApplication({kImageAndText});
        primary.copyFromOtherApplication({selected});

        ASSERT_TRUE(paster.paste(QStringLiteral("dictated")));
        bool fetched = false;
        ASSERT_TRUE(paster.whenFetched([&] { fetched = true; }));
        EXPECT_EQ(keys.chords(), std::vector{platform::PasteChord::shiftInsert});
        EXPECT_EQ(keys.pastedTexts(), QStringList{QStringLiteral("dictated")}) << "the selection holds the text";
        EXPECT_EQ(paster.lastChord(), platform::PasteChord::shiftInsert);
        c.during(clipboard, primary);
        EXPECT_TRUE(fetched);
        loop.advance(600ms);
        EXPECT_FALSE(paster.hasPendingWork());
        EXPECT_EQ(clipboard.items(), std::vector<platform::PasteboardItem>{kImageAndText});
        EXPECT_EQ(primary.text(), c.primaryAfter);
        paster.handOverAtQuit();
        EXPECT_EQ(primary.cutBufferLeaves(), 1) << "the quit did not leave the selection where it outlives us";
    }
}

// The clipboard read ahead (while the take is transcribed) spares the paste its read, but only while
// nobody changed the clipboard since: a stale copy would put back what the user had replaced.
TEST(PasterPrepareTest, TheCopyReadAheadIsRestoredOnlyWhileTheClipboardIsUnchanged)
{
    const platform::PasteboardItem newer = {{QStringLiteral("text/plain"), QByteArray("copied meanwhile")}};
    struct Case {
        const char *name;
        std::function<void(Paster &, FakePasteboard &)> between; // after the read ahead, before the paste
        bool readAtThePaste;
        platform::PasteboardItem restored;
    };
    const Case cases[] = {
        {"unchanged", [](Paster &, FakePasteboard &) {}, false, kImageAndText},
        {"copied over meanwhile",
         [&](Paster &, FakePasteboard &pasteboard) { pasteboard.copyFromOtherApplication({newer}); }, true, newer},
        {"forgotten", [](Paster &paster, FakePasteboard &) { paster.forgetPrepared(); }, true, kImageAndText},
        {"copied over and back to the same count",
         [&](Paster &paster, FakePasteboard &pasteboard) {
             pasteboard.copyFromOtherApplication({newer});
             paster.prepare();
         },
         false, newer},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        VirtualLoop loop;
        FakePasteboard pasteboard;
        FakeKeySynthesizer keys{[&] { return pasteboard.text(); }};
        FakeScreenLock screenLock;
        Paster paster{pasteboard, keys, screenLock, loop};
        pasteboard.copyFromOtherApplication({kImageAndText});
        paster.prepare();
        c.between(paster, pasteboard);
        const int reads = pasteboard.readCount();
        ASSERT_TRUE(paster.paste(QStringLiteral("dictated")));
        EXPECT_EQ(pasteboard.readCount() > reads, c.readAtThePaste);
        loop.advance(600ms);
        EXPECT_EQ(pasteboard.items(), std::vector<platform::PasteboardItem>{c.restored});
    }
}

TEST_F(PasterTest, NothingRunsAfterThePasterIsGone)
{
    pasteboard.copyFromOtherApplication({kImageAndText});
    {
        Paster shortLived(pasteboard, keys, screenLock, loop);
        shortLived.paste(QStringLiteral("text"));
    }
    loop.advance(1s);
    EXPECT_EQ(pasteboard.text(), QStringLiteral("text"));
}

} // namespace
