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

// A paster on fakes; the keys type what the clipboard holds. The window in front is of no client the
// clipboard can tell until the test names one.
struct PasterRig {
    VirtualLoop loop;
    FakePasteboard pasteboard;
    FakeKeySynthesizer keys{[this] { return pasteboard.text(); }};
    FakeScreenLock screenLock;
    zq::test::FakeFrontWindow front;
    Paster paster{pasteboard, keys, screenLock, loop, {nullptr, &front}};
};

constexpr std::uint32_t kWindow = 7;
constexpr std::uint32_t kReader = 9; // a clipboard history tool, which reads every new clipboard

const char *toldOf(Paster::Leftover leftover)
{
    return leftover == Paster::Leftover::onClipboard ? "not fetched" : "replaced";
}

// How a table's row ends: the clipboard at each chord, what the callbacks were told, nothing left to
// run, and the clipboard as `clipboardAfter` names it (null: the user's own, back).
void expectEnd(PasterRig &r, const QStringList &chorded, const std::vector<std::string> &told,
               const std::vector<std::string> &expectedTold, const char *clipboardAfter)
{
    EXPECT_EQ(r.keys.pastedTexts(), chorded);
    EXPECT_EQ(told, expectedTold);
    EXPECT_FALSE(r.paster.hasPendingWork());
    if (clipboardAfter)
        EXPECT_EQ(r.pasteboard.text(), QLatin1String(clipboardAfter));
    else
        EXPECT_EQ(r.pasteboard.items(), std::vector<platform::PasteboardItem>{kImageAndText});
}

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
// stays (the window never took it) and the paster says so. Only the window's own fetch counts: a reader of
// every new clipboard settling it would hand a slow window the previous contents. A clipboard manager that
// takes the text over serves the window itself, out of sight: the clipboard from before waits for the
// window to answer a ping sent after the chord, or for the limit when it takes none. Times are from the paste.
TEST(PasterFetchTest, TheRestoreWaitsForTheFrontWindowToFetchTheText)
{
    enum class Ends { fetched, stays, replaced };
    struct Case {
        const char *name;
        std::chrono::milliseconds modifiersLetGoAt; // 0: none held; the chord follows at the next check
        std::vector<std::pair<std::chrono::milliseconds, std::uint32_t>> fetches; // when, by which client
        std::optional<std::chrono::milliseconds> copyAt;
        std::chrono::milliseconds restoredAt; // or given up on
        Ends ends;
        const char *copied = "copied"; // "dictated": a clipboard manager took the text over
        bool takesPings = false;
        std::optional<std::chrono::milliseconds> pingAnsweredAt = std::nullopt;
    };
    const Case cases[] = {
        {"fetched at once", 0ms, {{10ms, kWindow}}, std::nullopt, 600ms, Ends::fetched},
        {"fetched late", 0ms, {{1510ms, kWindow}}, std::nullopt, 1520ms, Ends::fetched},
        {"never fetched", 0ms, {}, std::nullopt, 5000ms, Ends::stays},
        {"fetched only before the chord", 90ms, {{50ms, kWindow}}, std::nullopt, 5100ms, Ends::stays},
        {"read by a clipboard history tool only", 0ms, {{10ms, kReader}}, std::nullopt, 5000ms, Ends::stays},
        {"read by a tool, then fetched late",
         0ms,
         {{10ms, kReader}, {1510ms, kWindow}},
         std::nullopt,
         1520ms,
         Ends::fetched},
        {"copied over while unfetched", 0ms, {}, 1010ms, 1020ms, Ends::replaced},
        {"taken over by a clipboard manager, the ping answered",
         0ms,
         {},
         10ms,
         600ms,
         Ends::fetched,
         "dictated",
         true,
         300ms},
        {"taken over by a clipboard manager, the ping answered late",
         0ms,
         {},
         10ms,
         2020ms,
         Ends::fetched,
         "dictated",
         true,
         2010ms},
        {"taken over by a clipboard manager, no pings taken", 0ms, {}, 10ms, 5000ms, Ends::fetched, "dictated"},
        {"taken over by a clipboard manager, the ping unanswered",
         0ms,
         {},
         10ms,
         5000ms,
         Ends::stays,
         "dictated",
         true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PasterRig r;
        auto &[loop, pasteboard, keys, screenLock, front, paster] = r;
        front.setClient(kWindow);
        front.setTakesPings(c.takesPings);
        pasteboard.tellFetches();
        std::optional<Paster::Leftover> told;
        paster.setOnNotFetched([&](Paster::Leftover leftover) {
            EXPECT_FALSE(told) << "told twice";
            told = leftover;
        });
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
        for (const auto &[at, client] : c.fetches)
            events.emplace_back(at, [&, client = client] { pasteboard.fetchFromOtherApplication(client); });
        if (c.copyAt)
            events.emplace_back(*c.copyAt, [&] {
                pasteboard.copyFromOtherApplication({{{QStringLiteral("text/plain"), QByteArray(c.copied)}}});
            });
        if (c.pingAnsweredAt)
            events.emplace_back(*c.pingAnsweredAt, [&] { front.setAnswersPings(true); });
        std::stable_sort(events.begin(), events.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
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
        EXPECT_EQ(front.pings(), 1) << "one ping, after the chord";
        EXPECT_EQ(through, c.ends == Ends::fetched) << "the wait ends once, one way or the other";
        EXPECT_EQ(told, c.ends == Ends::stays      ? std::optional(Paster::Leftover::onClipboard)
                        : c.ends == Ends::replaced ? std::optional(Paster::Leftover::replaced)
                                                   : std::nullopt);
        if (c.ends == Ends::replaced)
            EXPECT_EQ(pasteboard.text(), QLatin1String(c.copied)) << "another copy is kept";
        else if (c.ends == Ends::stays)
            EXPECT_EQ(pasteboard.text(), QStringLiteral("dictated")) << "the window may still fetch the text";
        else
            EXPECT_EQ(pasteboard.items(), std::vector<platform::PasteboardItem>{kImageAndText});
    }
}

// A paste made while the text before it waits for the window's fetch waits its turn: the window's first
// shortcut would otherwise fetch the second text, and the first would be lost. It goes out once the first
// is through (fetched, or given up at its limit); a locked screen gives them all up, and a quit drops it.
// A text told as given up says where it is left: only the last one stays on the clipboard.
TEST(PasterFetchTest, APasteWaitsWhileTheTextBeforeItIsUnfetched)
{
    struct Case {
        const char *name;
        QStringList texts;
        std::function<void(PasterRig &)> then;
        QStringList chorded; // the clipboard at each chord
        std::vector<std::string> told;
        const char *clipboardAfter; // the text it holds in the end; null: the user's clipboard
        bool modifiersHeld = false; // at the first paste, let go in `then`
    };
    const auto fetch = [](PasterRig &r) {
        r.pasteboard.fetchFromOtherApplication();
        r.loop.advance(600ms);
    };
    const QStringList two{QStringLiteral("first"), QStringLiteral("second")};
    const QStringList three{QStringLiteral("first"), QStringLiteral("second"), QStringLiteral("third")};
    const Case cases[] = {
        {"both fetched",
         two,
         [&](PasterRig &r) {
             fetch(r);
             fetch(r);
         },
         two,
         {"first fetched", "second fetched"},
         nullptr},
        {"three, each fetched in turn",
         three,
         [&](PasterRig &r) {
             fetch(r);
             fetch(r);
             fetch(r);
         },
         three,
         {"first fetched", "second fetched", "third fetched"},
         nullptr},
        {"the first's chord waits for held modifiers",
         two,
         [&](PasterRig &r) {
             EXPECT_EQ(r.keys.chordCount(), 0);
             r.keys.setHeldModifiers(0);
             r.loop.advance(Paster::modifierPollInterval);
             fetch(r);
             fetch(r);
         },
         two,
         {"first fetched", "second fetched"},
         nullptr,
         true},
        // The second text replaces the first on the clipboard at once: the first is told as only in History.
        {"the first never fetched",
         two,
         [&](PasterRig &r) {
             r.loop.advance(Paster::fetchWaitLimit);
             fetch(r);
         },
         two,
         {"replaced", "second fetched"},
         "first"},
        {"the screen locked",
         two,
         [](PasterRig &r) {
             r.screenLock.setLocked(true);
             EXPECT_FALSE(r.paster.paste(QStringLiteral("third")));
         },
         {QStringLiteral("first")},
         {"replaced", "replaced"},
         "third"},
        {"the screen locked while they waited",
         three,
         [](PasterRig &r) {
             r.screenLock.setLocked(true);
             r.loop.advance(Paster::fetchWaitLimit);
         },
         {QStringLiteral("first")},
         {"replaced", "replaced", "not fetched"},
         "third"},
        {"a quit",
         two,
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
        r.paster.setOnNotFetched([&](Paster::Leftover leftover) { told.push_back(toldOf(leftover)); });
        r.pasteboard.copyFromOtherApplication({kImageAndText});
        if (c.modifiersHeld)
            r.keys.setHeldModifiers(ModifierFlag::shift);
        for (const QString &text : c.texts) {
            ASSERT_TRUE(r.paster.paste(text));
            ASSERT_TRUE(r.paster.whenFetched([&told, text] { told.push_back(text.toStdString() + " fetched"); }));
        }
        EXPECT_EQ(r.keys.pastedTexts(), c.modifiersHeld ? QStringList() : QStringList{QStringLiteral("first")});
        c.then(r);
        expectEnd(r, c.chorded, told, c.told, c.clipboardAfter);
    }
}

// A window that leaves its shortcut unanswered past the limit (stopped, busy) still pastes when it wakes,
// and pastes whatever the clipboard holds then: no further shortcut goes to it, and no other text onto the
// clipboard, until it fetches, answers a ping or loses the focus. Its late fetch of the given-up text
// settles that paste after all and gives the user's clipboard back. A paste held back past the limit is
// told as given up, its text only in History, and still goes out in its turn when the window wakes; not
// into another window. The second text is pasted 1 s after the first.
TEST(PasterFetchTest, NoShortcutGoesToAWindowThatLeftOneUnanswered)
{
    struct Case {
        const char *name;
        std::function<void(PasterRig &)> afterTheLimit; // the first given up, 5 s after its chord
        QStringList chorded;
        std::vector<std::string> told;
        const char *clipboardAfter; // null: the user's clipboard
    };
    const auto fetchedBy = [](std::uint32_t client) {
        return [client](PasterRig &r) {
            r.loop.advance(200ms);
            r.pasteboard.fetchFromOtherApplication(client);
            r.loop.advance(600ms);
            r.pasteboard.fetchFromOtherApplication(client);
            r.loop.advance(600ms);
        };
    };
    const Case cases[] = {
        {"the window wakes and fetches",
         fetchedBy(kWindow),
         {QStringLiteral("first"), QStringLiteral("second")},
         {"not fetched", "first fetched", "second fetched"},
         nullptr},
        {"the window wakes after the second was given up",
         [&](PasterRig &r) {
             r.loop.advance(2s);
             fetchedBy(kWindow)(r);
         },
         {QStringLiteral("first"), QStringLiteral("second")},
         {"not fetched", "replaced", "first fetched", "second fetched"},
         nullptr},
        {"the window never wakes, and the focus moves on",
         [&](PasterRig &r) {
             r.loop.advance(Paster::fetchWaitLimit);
             r.pasteboard.fetchFromOtherApplication(kReader);
             r.front.setClient(8);
             r.loop.advance(Paster::fetchPollInterval);
         },
         {QStringLiteral("first")},
         {"not fetched", "replaced"},
         "first"},
        {"the focus moves to another window",
         [&](PasterRig &r) {
             r.front.setClient(8);
             fetchedBy(8)(r);
         },
         {QStringLiteral("first"), QStringLiteral("second")},
         {"not fetched", "second fetched"},
         "first"},
        // Awake, with no text field: nothing to hold back for, and the second text replaces the first.
        {"the window answers its ping",
         [](PasterRig &r) {
             EXPECT_EQ(r.keys.chordCount(), 2);
             r.loop.advance(Paster::fetchWaitLimit);
         },
         {QStringLiteral("first"), QStringLiteral("second")},
         {"replaced", "not fetched"},
         "second"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PasterRig r;
        r.pasteboard.tellFetches();
        r.front.setClient(kWindow);
        const bool awake = std::string(c.name) == "the window answers its ping";
        r.front.setTakesPings(awake);
        r.front.setAnswersPings(awake);
        std::vector<std::string> told;
        r.paster.setOnNotFetched([&](Paster::Leftover leftover) { told.push_back(toldOf(leftover)); });
        r.pasteboard.copyFromOtherApplication({kImageAndText});
        const auto paste = [&](const QString &text) {
            ASSERT_TRUE(r.paster.paste(text));
            ASSERT_TRUE(r.paster.whenFetched([&told, text] { told.push_back(text.toStdString() + " fetched"); }));
        };
        paste(QStringLiteral("first"));
        r.loop.advance(1s);
        paste(QStringLiteral("second"));
        r.loop.advance(Paster::fetchWaitLimit - 1s);
        c.afterTheLimit(r);
        expectEnd(r, c.chorded, told, c.told, c.clipboardAfter);
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

    // The screen locked while a second text waited: it is left where its notice says Shift+Insert pastes.
    VirtualLoop loop;
    FakePasteboard clipboard;
    FakePasteboard primary;
    clipboard.tellFetches();
    FakeKeySynthesizer keys{[&] { return primary.text(); }};
    FakeScreenLock screenLock;
    zq::test::FakeFrontWindow front;
    front.setWindowClass({QStringLiteral("xterm"), QStringLiteral("XTerm")});
    Paster paster{clipboard, keys, screenLock, loop, {&primary, &front}};
    std::vector<Paster::Leftover> told;
    paster.setOnNotFetched([&](Paster::Leftover leftover) { told.push_back(leftover); });
    for (const char *text : {"first", "second"}) {
        ASSERT_TRUE(paster.paste(QLatin1String(text)));
        ASSERT_TRUE(paster.whenFetched([] {}));
    }
    screenLock.setLocked(true);
    loop.advance(Paster::fetchWaitLimit);
    EXPECT_EQ(told, (std::vector{Paster::Leftover::replaced, Paster::Leftover::onClipboard}));
    EXPECT_EQ(primary.text(), QStringLiteral("second"));
    EXPECT_EQ(paster.lastChord(), platform::PasteChord::shiftInsert);
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
