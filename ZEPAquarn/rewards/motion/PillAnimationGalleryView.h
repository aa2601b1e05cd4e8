#pragma once

#include "menubar/brand/Motion.h"
#include "menubar/brand/Palette.h"
#include "pipeline/Colorway.h"
#include "rewards/motion/PillAnimationOption.h"

#include <QAbstractButton>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

namespace zq {

class MotionStore;

// One live preview of a listening animation, slowed to 0.35 of real time from `startedAt`, driven by a
// made-up voice: the mark with its bars on a capsule for logo + bars, the mark's own animation on a
// circle for the others. `now` and `startedAt` are on the main loop's clock.
void paintPillAnimationPreview(QPainter &painter, const QRectF &rect, PillAnimationStyle style, rt::Nanos now,
                               rt::Nanos startedAt, Colorway colorway, ColorScheme scheme);

// A whole gallery tile: the preview well, the name and, for a locked style, its unlock note.
void paintPillAnimationTile(QPainter &painter, const QRectF &rect, const PillAnimationOption &option, rt::Nanos now,
                            rt::Nanos startedAt, ColorScheme scheme);

// A tile as a button: choosing it selects its style, only while the style may be used.
class PillAnimationTile final : public QAbstractButton {
    Q_OBJECT
public:
    PillAnimationTile(const PillAnimationOption &option, std::function<rt::Nanos()> now, QWidget *parent = nullptr);

    const PillAnimationOption &option() const { return m_option; }
    void setOption(const PillAnimationOption &option);
    // The moment the preview first came on screen; none before.
    std::optional<rt::Nanos> startedAt() const { return m_startedAt; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override { return {160, heightForWidth(160)}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    PillAnimationOption m_option;
    std::function<rt::Nanos()> m_now;
    std::optional<rt::Nanos> m_startedAt;
};

// The listening-animation gallery of the General page: the four styles as live tiles in two
// columns. Its previews redraw at most 30 times a second on the window's ticker, and only while the
// gallery is on screen; with animations off they stand still.
class PillAnimationGalleryView final : public QWidget {
    Q_OBJECT
public:
    // `now` gives the previews' time; when none is given, the ticker's (previews outside a window
    // with a ticker stand still).
    PillAnimationGalleryView(MotionStore &motion, double lifetimeReclaimed, Colorway colorway,
                             std::function<rt::Nanos()> now = {}, QWidget *parent = nullptr);

    void setLifetimeReclaimed(double seconds);
    void setColorway(Colorway colorway);
    const std::vector<PillAnimationTile *> &tiles() const { return m_tiles; }
    bool isAnimating() const { return m_frames.isActive(); }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void rebuild();

    MotionStore &m_motion;
    double m_lifetimeReclaimed;
    Colorway m_colorway;
    std::function<rt::Nanos()> m_now;
    std::vector<PillAnimationTile *> m_tiles;
    Motion::Frames m_frames;
};

} // namespace zq
