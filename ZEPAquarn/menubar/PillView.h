#pragma once

#include "audio/LevelHistory.h"
#include "menubar/PillLifecycle.h"
#include "menubar/brand/Palette.h"
#include "menubar/brand/VekPillMeter.h"
#include "menubar/brand/ZepaMeter.h"
#include "pipeline/Colorway.h"
#include "rewards/motion/PillAnimationStyle.h"

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QString>

#include <array>
#include <optional>

class QPainter;

namespace zq {

// The colour role of a frame; the order is the one the colour functions switch on.
enum class PillTone { listening, locked, rollingUp, thinking, done, muted };

// The pill: a 36-point capsule with the brand mark and, while the microphone is live, a level
// meter. Every animated quantity is a function of the lifecycle copy and the frame time, so any
// instant can be drawn on its own.
struct PillView {
    PillLifecycle lifecycle;
    PillAnimationStyle animationStyle = PillAnimationStyle::logoBars;
    Colorway colorway = Colorway::consensusMint;
    ColorScheme scheme = ColorScheme::dark;
    bool reduceMotion = false;
    // A window without a compositing manager is cut to the capsule's shape and cannot fade: it
    // shows the pill whole from its first frame.
    bool canFade = true;
    // The audio engine's level history and live flag as the frame reads them.
    LevelHistory liveHistory;
    bool engineCaptureLive = false;

    // The sizes are PillMetrics; these are the pill's own durations.
    static constexpr rt::Nanos kBarRollupWindow = rt::seconds(0.405);
    static constexpr rt::Nanos kRollupTone = rt::seconds(0.52);
    // A muted pill carries its notice beside the mark: the capsule grows to the words, at most as
    // wide as leaves the shadow inside the 460-point window.
    static constexpr double kNoticeMaxWidth = 370;
    static constexpr double kNoticeTrailingPadding = 14;
    static constexpr rt::Nanos kNoticeGrow = rt::seconds(0.45);
    // The words fade in once the capsule has grown to hold them.
    static constexpr rt::Nanos kNoticeWordsFade = rt::seconds(0.12);

    static PillTone tone(const PillLifecycle &lifecycle, rt::Nanos now);
    static Palette::Token tint(PillTone tone, Colorway colorway);
    // The border's colour.
    static Palette::Token secondaryTint(PillTone tone, Colorway colorway);
    static Palette::Token fill(Colorway colorway);
    // What accessibility reads for the pill.
    static QString statusText(const PillLifecycle &lifecycle);
    static QFont noticeFont();
    // The words a muted pill shows in `room` points: the whole notice when it fits, else its first
    // sentence (the title; the detail is in the desktop notification), cut with "…" only if even
    // that is too long.
    static QString noticeLine(const QString &notice, double room);

    // Everything one frame draws, resolved at its instant: two frames with equal looks are the same
    // picture, so a window can tell a frame that would change nothing before drawing it. Positions
    // follow from the rectangle the look is drawn in and the capsule's width.
    struct Look {
        // The presence: nothing is drawn at opacity 0, and the rest of the look is then empty.
        double opacity = 0;
        double scale = 1;
        double offset = 0;
        double width = 0;
        QColor fill;
        QColor tint;
        QColor border;
        double borderWidth = 1;
        // The bar meter (logo bars).
        std::optional<std::array<ZepaMeter::Bar, 4>> bars;
        // The listening-animation meter (the other styles).
        struct Arcs {
            VekMotion motion = VekMotion::scaledPieces;
            std::array<double, 4> levels{};
            rt::Seconds waveElapsed{0};
            double opacity = 1;
            friend bool operator==(const Arcs &, const Arcs &) = default;
        };
        std::optional<Arcs> arcs;
        struct Mark {
            double shift = 0;
            double rotation = 0;
            double opacity = 1;
            friend bool operator==(const Mark &, const Mark &) = default;
        };
        std::optional<Mark> mark;
        // How far the capsule has grown to its notice (the mark moves with it), and the words with
        // their opacity: none until the capsule holds them, none once it narrows again.
        double noticeProgress = 0;
        double wordsOpacity = 0;
        QString notice;
        QFont noticeFont;
        QColor noticeColor;
        friend bool operator==(const Look &, const Look &) = default;
    };

    // Where the shadow of `capsule` falls: a window that shows the pill must hold all of it.
    static QRectF shadowRect(const QRectF &capsule);

    // The capsule's rectangle for a frame, before the presence scale and offset: centred in `rect`.
    QRectF capsuleRect(const QRectF &rect, rt::Nanos now) const;
    // The capsule as it shows, after the presence scale and offset.
    QRectF visibleCapsule(const QRectF &rect, rt::Nanos now) const;
    // What the frame at `now` (on the main loop's clock) draws in `rect`.
    Look look(const QRectF &rect, rt::Nanos now) const;
    // Draws the frame at `now` centred in `rect`.
    void paint(QPainter &painter, const QRectF &rect, rt::Nanos now) const;
    // Draws `look`, made for `rect`.
    static void paint(QPainter &painter, const QRectF &rect, const Look &look);

private:
    // The frame at full opacity; paint() applies the presence fade to it as a whole.
    static void paintOpaque(QPainter &painter, const QRectF &rect, const Look &look);
    // Its steps: the presence scale and offset about the centre of `rect`; inside the capsule the
    // bar meter (logo bars) or the listening animation, the mark and the notice; the border.
    static void applyPresence(QPainter &painter, const QRectF &rect, const Look &look);
    static void paintBarMeter(QPainter &painter, const QRectF &capsule, const QColor &color,
                              const std::array<ZepaMeter::Bar, 4> &bars);
    static void paintAnimationMeter(QPainter &painter, const QRectF &capsule, const QColor &color,
                                    const Look::Arcs &arcs);
    static void paintMark(QPainter &painter, const QRectF &capsule, const Look &look);
    static void paintNotice(QPainter &painter, const QRectF &capsule, const Look &look);
    static void paintBorder(QPainter &painter, const QRectF &capsule, const QColor &color, double width);
    // The content's values at `now`, absent when the layer is not drawn.
    std::optional<std::array<ZepaMeter::Bar, 4>> barMeter(rt::Nanos now) const;
    std::optional<Look::Arcs> animationMeter(rt::Nanos now) const;
    std::optional<Look::Mark> mark(rt::Nanos now) const;
    // The notice beside the mark and how far the capsule has grown to it, 0 to 1: growing while
    // muted, shrinking away when a state follows the notice, none otherwise.
    struct NoticeShown {
        QString text;
        double progress = 0;
        double wordsOpacity = 0;
    };
    NoticeShown noticeShown(rt::Nanos now) const;
    // The capsule's width without the notice, as the lifecycle gives it for the style.
    double bareWidth(rt::Nanos now) const;
    // A capsule `width` wide centred in `rect`.
    static QRectF capsuleIn(const QRectF &rect, double width);
};

} // namespace zq
