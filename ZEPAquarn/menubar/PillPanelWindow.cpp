#include "menubar/PillPanelWindow.h"

#include "audio/AudioEngine.h"
#include "menubar/brand/Compositor.h"
#include "menubar/brand/Metrics.h"
#include "pipeline/SettingsDefaults.h"
#include "runtime/Log.h"
#include "runtime/Settings.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QScreen>
#include <QWidget>
#include <QtMath>

#include <cstring>

#include <algorithm>
#include <cmath>

namespace zq {

namespace {

QString describe(const QRect &rect)
{
    return QStringLiteral("{{%1, %2}, {%3, %4}}").arg(rect.x()).arg(rect.y()).arg(rect.width()).arg(rect.height());
}

} // namespace

// The window itself. It only paints the frame its owner describes.
class PillPanelWindow::Surface final : public QWidget {
public:
    Surface(PillPanelWindow &owner, bool translucent) : m_owner(owner)
    {
        // A tool tip is never managed by the window manager: no frame, no focus, no task-list entry,
        // above other windows on every workspace, full-screen ones included.
        setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus |
                       Qt::WindowTransparentForInput);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_TranslucentBackground, translucent);
        setAttribute(Qt::WA_NoSystemBackground, translucent);
        setFocusPolicy(Qt::NoFocus);
        setObjectName(QStringLiteral("zepaquarn-pill"));
        setWindowTitle(QStringLiteral("ZEPA QUARN pill"));
        setFixedSize(windowSize());
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        // The frame was drawn off screen; the window takes the part that changed, pixel for pixel.
        const QImage &shown = m_owner.m_shown;
        if (shown.isNull())
            return;
        QPainter painter(this);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        const QRect area = event->rect();
        const qreal ratio = shown.devicePixelRatio();
        const QRect source(QPoint(qFloor(area.x() * ratio), qFloor(area.y() * ratio)),
                           QPoint(qCeil((area.right() + 1) * ratio) - 1, qCeil((area.bottom() + 1) * ratio) - 1));
        painter.drawImage(QRectF(area), shown, QRectF(source));
    }

private:
    PillPanelWindow &m_owner;
};

PillPanelWindow::PillPanelWindow(AudioEngine &audio, Colorway colorway, Services services, QObject *parent)
    : QObject(parent), m_audio(audio), m_services(std::move(services)), m_colorway(colorway),
      m_animationStyle(storedPillAnimationStyle(m_services.settings)), m_compositing(probeCompositing()),
      m_frames(
          motion::liveFrame,
          [this](rt::Nanos) {
              drawFrame();
              return true;
          },
          Motion::WhenOff::keepRunning)
{
    m_surface = std::make_unique<Surface>(*this, m_compositing);
    connect(&m_audio, &AudioEngine::captureLiveChanged, this, [this](bool live) { captureChanged(live); });
    // The frame timer runs 30 times a second: the style is parsed when it changes, not per frame.
    connect(&m_services.settings, &rt::Settings::changed, this, [this](const QString &key) {
        if (key != keys::pillAnimation)
            return;
        m_animationStyle = storedPillAnimationStyle(m_services.settings);
        if (m_surface->isVisible())
            m_surface->update();
    });
    qCInfo(lcPill) << "pill: window made, compositing" << m_compositing;
}

PillPanelWindow::~PillPanelWindow()
{
    m_frames.stop();
    m_hideCompletion.cancel();
}

rt::Nanos PillPanelWindow::now() const
{
    return m_services.loop.now();
}

QWidget &PillPanelWindow::window() const
{
    return *m_surface;
}

PillView PillPanelWindow::frame() const
{
    PillView view;
    view.lifecycle = m_lifecycle;
    view.animationStyle = m_animationStyle;
    view.colorway = m_colorway;
    // The application's palette follows the "appearance" setting over the desktop's scheme.
    view.scheme = colorSchemeOf(*m_surface);
    view.reduceMotion = m_services.motion.animationsOff();
    view.canFade = m_compositing;
    view.liveHistory = m_audio.history();
    view.engineCaptureLive = m_audio.captureLive();
    return view;
}

void PillPanelWindow::setColorway(Colorway colorway)
{
    if (m_colorway == colorway)
        return;
    m_colorway = colorway;
    if (m_surface->isVisible())
        m_surface->update();
}

void PillPanelWindow::update(const PillState &state)
{
    if (state.is(PillState::Kind::hidden)) {
        hide();
        return;
    }
    ++m_hideGeneration;
    m_lifecycle.apply(state, m_audio.history(), now());
    // A capturing state starts with the engine's real flag, even if it never changes afterwards.
    m_lifecycle.noteCapture(m_audio.captureLive(), m_audio.history(), now());
    show();
    m_services.loop.post(m_lifetime.guard([this] { logSizes("update"); }));
}

bool PillPanelWindow::probeCompositing() const
{
    // Only X11 can lack a compositing manager: the other platforms Qt runs on here (offscreen,
    // Wayland) always blend translucent windows.
    return m_services.compositing ? m_services.compositing() : compositorRunning().value_or(true);
}

void PillPanelWindow::show()
{
    if (m_surface->isVisible())
        return; // a visible pill never moves
    if (m_leftEarly) {
        // Back within an exit that had no fade to play: the pill stands where it stood.
        m_leftEarly = false;
        drawFrame();
        m_surface->show();
        m_frames.start(m_services.motion);
        return;
    }
    // A compositing manager may have started or stopped since the window was made.
    if (const bool compositing = probeCompositing(); compositing != m_compositing) {
        m_compositing = compositing;
        m_surface = std::make_unique<Surface>(*this, compositing);
        m_maskedCapsule = QRectF();
        qCInfo(lcPill) << "pill: window made again, compositing" << m_compositing;
    }
    QScreen *screen = QGuiApplication::screenAt(QCursor::pos());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    logSizes("show");
    const QRect available = screen->availableGeometry();
    const QRect frame = placement(available);
    qCInfo(lcPill).noquote() << QStringLiteral("show: visibleFrame=%1 origin={%2, %3}")
                                    .arg(describe(available))
                                    .arg(frame.x())
                                    .arg(frame.y());
    m_surface->setScreen(screen);
    m_surface->move(frame.topLeft());
    drawFrame();
    m_surface->show();
    m_frames.start(m_services.motion);
}

void PillPanelWindow::hide()
{
    const std::uint64_t generation = ++m_hideGeneration;
    m_lifecycle.apply(PillState::hidden(), LevelHistory(), now());
    m_hideCompletion =
        m_services.loop.postDelayed(kHideDelay, m_lifetime.guard([this, generation] { completeHide(generation); }));
    if (!m_compositing && m_lifecycle.exitAt && m_surface->isVisible())
        leaveWithoutFade();
}

void PillPanelWindow::leaveWithoutFade()
{
    // The shaped window's capsule is opaque: fading only its content would leave a bare capsule on
    // screen for the whole exit. The lifecycle still plays the exit, so the timing stays the same.
    m_leftEarly = true;
    m_frames.stop();
    m_surface->hide();
}

void PillPanelWindow::completeHide(std::uint64_t generation)
{
    if (generation != m_hideGeneration || !m_lifecycle.exitAt)
        return; // a newer update or hide took over
    m_lifecycle = PillLifecycle();
    m_leftEarly = false;
    m_frames.stop();
    m_surface->hide();
    // The next show draws whole; a hidden pill keeps no pictures.
    m_shown = QImage();
    m_next = QImage();
    m_shownLook.reset();
    m_maskedCapsule = QRectF();
}

void PillPanelWindow::captureChanged(bool live)
{
    m_lifecycle.noteCapture(live, m_audio.history(), now());
}

void PillPanelWindow::drawFrame()
{
    const rt::Nanos at = now();
    const PillView view = frame();
    const QString status = PillView::statusText(m_lifecycle);
    if (m_surface->accessibleName() != status)
        m_surface->setAccessibleName(status);

    const QRectF bounds(QPointF(0, 0), QSizeF(kPanelSize));
    const qreal ratio = m_surface->devicePixelRatioF();
    // Only the capsule shows through a shape; its fill stands behind the fade.
    const QColor background =
        m_compositing ? QColor(Qt::transparent) : Palette::color(PillView::fill(view.colorway), view.scheme);
    ShownLook next{view.look(bounds, at), background, ratio};
    if (!m_shown.isNull() && m_shownLook == next)
        return; // the window already shows this picture: nothing to draw, diff or send
    const QSize pixels = (QSizeF(windowSize()) * ratio).toSize();
    if (m_next.size() != pixels) {
        m_next = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
        m_next.setDevicePixelRatio(ratio);
    }
    m_next.fill(background);
    {
        QPainter painter(&m_next);
        PillView::paint(painter, bounds, next.look);
    }
    ++m_drawnFrames;
    const QRect changed = changedArea(m_shown, m_next);
    // Equal pixels or not, the window now shows what this look draws.
    m_shownLook = std::move(next);
    if (changed.isEmpty())
        return; // nothing moved: no repaint, nothing sent to the display
    std::swap(m_shown, m_next);

    if (!m_compositing) {
        const QRectF capsule = view.visibleCapsule(bounds, at);
        if (capsule != m_maskedCapsule && !capsule.isEmpty()) {
            m_maskedCapsule = capsule;
            m_surface->setMask(capsuleShape(capsule));
        }
    }
    // In window points, rounded outwards.
    const QRect area(QPoint(qFloor(changed.x() / ratio), qFloor(changed.y() / ratio)),
                     QPoint(qCeil((changed.right() + 1) / ratio) - 1, qCeil((changed.bottom() + 1) / ratio) - 1));
    ++m_repaintedFrames;
    m_lastRepaint = area;
    m_surface->update(area);
}

QRect PillPanelWindow::changedArea(const QImage &before, const QImage &after)
{
    if (before.size() != after.size() || before.format() != after.format())
        return after.rect();
    const int width = after.width();
    const std::size_t rowBytes = static_cast<std::size_t>(width) * sizeof(QRgb);
    int top = -1;
    int bottom = -1;
    int left = width;
    int right = -1;
    for (int y = 0; y < after.height(); ++y) {
        const auto *a = reinterpret_cast<const QRgb *>(before.constScanLine(y));
        const auto *b = reinterpret_cast<const QRgb *>(after.constScanLine(y));
        if (std::memcmp(a, b, rowBytes) == 0)
            continue;
        if (top < 0)
            top = y;
        bottom = y;
        int x = 0;
        while (x < left && a[x] == b[x])
            ++x;
        left = std::min(left, x);
        int r = width - 1;
        while (r > right && a[r] == b[r])
            --r;
        right = std::max(right, r);
    }
    if (top < 0)
        return {};
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

QSize PillPanelWindow::windowSize()
{
    // Measured once: every frame sizes its buffer by it. The entry starts below the pill's place;
    // the widest capsule carries a notice. Across, the widest shadow was made to fit the panel.
    static const QSize size = [] {
        PillLifecycle entering;
        entering.apply(PillState::listening(), {}, rt::Nanos(0));
        const double drop = entering.presence(rt::Nanos(0)).offset;
        const QRectF panel(QPointF(0, 0), QSizeF(kPanelSize));
        const QRectF lowest(panel.center().x() - PillView::kNoticeMaxWidth / 2,
                            panel.center().y() - PillMetrics::kHeight / 2 + drop, PillView::kNoticeMaxWidth,
                            PillMetrics::kHeight);
        const double bottom = std::max(panel.bottom(), PillView::shadowRect(lowest).bottom());
        return QSize(kPanelSize.width(), static_cast<int>(std::ceil(bottom)));
    }();
    return size;
}

QRect PillPanelWindow::placement(const QRect &availableGeometry)
{
    const int x = availableGeometry.x() + (availableGeometry.width() - kPanelSize.width()) / 2;
    const int y = availableGeometry.y() + availableGeometry.height() - kBottomMargin - kPanelSize.height();
    return {QPoint(x, y), windowSize()};
}

QRegion PillPanelWindow::capsuleShape(const QRectF &capsule)
{
    // Row by row: the span of the capsule's two round ends and straight middle at the point of the
    // row nearest the capsule's centre line, widened to whole pixels.
    QRegion shape;
    const double radius = std::min(capsule.width(), capsule.height()) / 2;
    const double centreY = capsule.center().y();
    const double leftCentre = capsule.left() + radius;
    const double rightCentre = capsule.right() - radius;
    for (int y = static_cast<int>(std::floor(capsule.top())); y < static_cast<int>(std::ceil(capsule.bottom())); ++y) {
        const double nearest = std::clamp(centreY, double(y), double(y + 1));
        const double dy = std::abs(nearest - centreY);
        if (dy >= radius)
            continue;
        const double half = std::sqrt(radius * radius - dy * dy);
        const int left = static_cast<int>(std::floor(leftCentre - half));
        const int right = static_cast<int>(std::ceil(rightCentre + half));
        shape += QRect(left, y, right - left, 1);
    }
    return shape;
}

void PillPanelWindow::logSizes(const char *label) const
{
    const QRectF capsule = frame().capsuleRect(QRectF(QPointF(0, 0), QSizeF(kPanelSize)), now());
    qCInfo(lcPill).noquote() << QStringLiteral("%1: fitting={%2, %3} hosting=%4 panel=%5")
                                    .arg(QString::fromLatin1(label))
                                    .arg(capsule.width())
                                    .arg(capsule.height())
                                    .arg(describe(capsule.toAlignedRect()))
                                    .arg(describe(m_surface->geometry()));
}

} // namespace zq
