#pragma once

#include "menubar/PillLifecycle.h"
#include "menubar/PillView.h"
#include "menubar/brand/Motion.h"
#include "pipeline/Colorway.h"
#include "pipeline/PillDisplay.h"
#include "runtime/Executor.h"

#include <QColor>
#include <QImage>
#include <QObject>
#include <QRect>
#include <QSize>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QRegion;
class QScreen;
class QWidget;

namespace zq {

namespace rt {
class Clocks;
class Settings;
} // namespace rt

class AudioEngine;

// The window that carries the floating pill: frameless, never focused nor activating, passing every
// click through, above other windows on every workspace, near the bottom centre of the screen
// under the pointer. The controller drives it only through update(); the window owns the one
// lifecycle value, feeds it the engine's capture edges, and hides 0.215 s after a hide once the
// exit has played, unless a newer update took over.
//
// Its frames (at most 30 a second, on the application's ticker) run only while the window is up,
// animations off or not: the meter follows the voice and the fades stay. A frame whose look (what
// it would draw) is the one the window shows is not drawn at all; any other is drawn off screen and
// only the pixels that changed reach the window. So once its entrance has played, a pill that
// listens to silence costs the display nothing and the main thread a look per frame. Without a
// compositing manager a translucent window would paint black, so the window then cuts itself to the
// capsule's shape instead (and cuts again only when that shape changes); such a window cannot fade,
// so it leaves at the first frame of the exit rather than standing as an empty capsule while the
// content fades. Whether a compositing manager runs is asked again whenever the pill comes up from
// hidden.
//
// Main thread only.
class PillPanelWindow final : public QObject, public PillDisplay {
    Q_OBJECT
public:
    struct Services {
        rt::MainLoop &loop;
        // Not read: the pill draws on the loop's clock, as the engine stamps its levels.
        const rt::Clocks &clocks;
        // "pillAnimation" is read when the window is made and whenever it changes.
        rt::Settings &settings;
        // The ticker the frames run on; its animations-off switch is the pill's reduce motion.
        Motion &motion;
        // Whether windows can be translucent here; empty asks the compositing service the design kit is lent.
        std::function<bool()> compositing = {};
    };

    // The pill centres in the panel's rectangle at the top of the window; below it the window
    // reaches further, to hold the whole of the pill's shadow.
    static constexpr QSize kPanelSize{460, 100};
    static constexpr int kBottomMargin = 24;
    static constexpr rt::Nanos kHideDelay = std::chrono::duration_cast<rt::Nanos>(motion::rowHover);

    // Builds the window (not shown). `audio` must outlive the pill.
    PillPanelWindow(AudioEngine &audio, Colorway colorway, Services services, QObject *parent = nullptr);
    ~PillPanelWindow() override;

    void update(const PillState &state) override;
    Colorway colorway() const override { return m_colorway; }
    void setColorway(Colorway colorway) override;

    const PillLifecycle &lifecycle() const { return m_lifecycle; }
    // The loop's time, which the engine stamps its levels with.
    rt::Nanos now() const;
    // What the next frame draws, from the lifecycle, the settings and the engine as they are now.
    PillView frame() const;
    QWidget &window() const;
    bool isCompositing() const { return m_compositing; }
    bool isFrameTimerRunning() const { return m_frames.isActive(); }
    std::uint64_t hideGeneration() const { return m_hideGeneration; }
    // Frames drawn off screen (a frame that would draw what the window shows is not drawn), those
    // that changed what the window shows, and the area (in window points) the last one repainted.
    std::uint64_t drawnFrames() const { return m_drawnFrames; }
    std::uint64_t repaintedFrames() const { return m_repaintedFrames; }
    QRect lastRepaint() const { return m_lastRepaint; }

    // The panel and, below it, the shadow of the widest capsule at its lowest.
    static QSize windowSize();
    // Where the window goes on `screen`: centred, its panel 24 points above the bottom of the usable
    // area (the shadow below may fall past it, as it would over any window there).
    static QRect placement(const QRect &availableGeometry);
    // The window's shape without a compositing manager: every pixel the capsule touches, so its
    // antialiased edge and border are never cut.
    static QRegion capsuleShape(const QRectF &capsule);
    // The smallest rectangle holding every pixel that differs (all of `after` when the two cannot
    // be compared); empty when the pictures are equal.
    static QRect changedArea(const QImage &before, const QImage &after);

private:
    class Surface;

    void show();
    void hide();
    bool probeCompositing() const;
    void leaveWithoutFade();
    void completeHide(std::uint64_t generation);
    void captureChanged(bool live);
    void drawFrame();
    void logSizes(const char *label) const;

    AudioEngine &m_audio;
    Services m_services;
    Colorway m_colorway;
    PillAnimationStyle m_animationStyle;
    PillLifecycle m_lifecycle;
    std::uint64_t m_hideGeneration = 0;
    bool m_compositing = false;
    // The window left at the start of an exit that is still pending: a take that comes back within
    // it shows the pill where it was.
    bool m_leftEarly = false;
    QRectF m_maskedCapsule;
    std::unique_ptr<Surface> m_surface;
    // What the window shows, and the buffer the next frame is drawn into.
    QImage m_shown;
    QImage m_next;
    // What m_shown pictures: the same look on the same background at the same pixel ratio draws the
    // same pixels.
    struct ShownLook {
        PillView::Look look;
        QColor background;
        qreal ratio = 1;
        friend bool operator==(const ShownLook &, const ShownLook &) = default;
    };
    std::optional<ShownLook> m_shownLook;
    std::uint64_t m_drawnFrames = 0;
    std::uint64_t m_repaintedFrames = 0;
    QRect m_lastRepaint;
    Motion::Frames m_frames;
    rt::WorkItem m_hideCompletion;
    rt::Lifetime m_lifetime;
};

} // namespace zq
