#include "menubar/PillView.h"

#include "menubar/brand/Metrics.h"
#include "menubar/brand/Motion.h"
#include "menubar/brand/Typography.h"
#include "menubar/brand/ZepaSymbol.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <vector>

namespace zq {

namespace {

constexpr double kShadowOpacity = 0.65;
constexpr double kShadowRadius = 30;
constexpr double kShadowOffset = 26;
// How far the blurred shadow reaches beyond the capsule.
constexpr double kShadowMargin = 45;
// The muted capsule grows to its notice at the pace the live pill widens.
constexpr TimingCurve kNoticeGrowth{motion::standard, PillView::kNoticeGrow};
// The notice's words: the system face at 12, medium, so they read at a glance.
constexpr TextStyle kNoticeStyle{12, QFont::Medium};
// Where the notice starts: past the mark, which keeps the capsule's round left end.
constexpr double kNoticeInset = PillMetrics::kNarrowWidth;
constexpr double kNoticeRoom = PillView::kNoticeMaxWidth - kNoticeInset - PillView::kNoticeTrailingPadding;

// The muted capsule's full width for its notice line; the narrow width when there are no words.
double noticeWidth(const QString &line)
{
    if (line.isEmpty())
        return PillMetrics::kNarrowWidth;
    const double text = QFontMetricsF(PillView::noticeFont()).horizontalAdvance(line);
    // Even, so that the capsule centred in the window has its edges on whole pixels.
    const double width = 2 * std::ceil((kNoticeInset + text + PillView::kNoticeTrailingPadding) / 2);
    return std::min(PillView::kNoticeMaxWidth, width);
}

QPainterPath capsulePath(const QRectF &rect)
{
    QPainterPath path;
    const double radius = std::min(rect.width(), rect.height()) / 2;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

// The shadow of a 36-point circle blurred with a Gaussian of radius 30, made once. A capsule's
// shadow is this picture cut through the middle and stretched across the capsule's extra width.
const QImage &circleShadow()
{
    static const QImage shadow = [] {
        const int margin = static_cast<int>(kShadowMargin);
        const int side = static_cast<int>(PillMetrics::kNarrowWidth) + 2 * margin;
        std::vector<double> alpha(static_cast<std::size_t>(side * side), 0.0);
        const double centre = side / 2.0;
        const double radius = PillMetrics::kNarrowWidth / 2;
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x)
                if (std::hypot(x + 0.5 - centre, y + 0.5 - centre) <= radius)
                    alpha[static_cast<std::size_t>(y * side + x)] = 1;
        // A blur radius reads as two standard deviations.
        const double sigma = kShadowRadius / 2;
        const int reach = static_cast<int>(std::ceil(3 * sigma));
        std::vector<double> kernel;
        double total = 0;
        for (int i = -reach; i <= reach; ++i) {
            kernel.push_back(std::exp(-(i * i) / (2 * sigma * sigma)));
            total += kernel.back();
        }
        for (double &weight : kernel)
            weight /= total;
        const auto blur = [&](bool across) {
            std::vector<double> out(alpha.size(), 0.0);
            for (int y = 0; y < side; ++y)
                for (int x = 0; x < side; ++x) {
                    double sum = 0;
                    for (int i = -reach; i <= reach; ++i) {
                        const int sx = across ? x + i : x;
                        const int sy = across ? y : y + i;
                        if (sx >= 0 && sx < side && sy >= 0 && sy < side)
                            sum += kernel[static_cast<std::size_t>(i + reach)] *
                                   alpha[static_cast<std::size_t>(sy * side + sx)];
                    }
                    out[static_cast<std::size_t>(y * side + x)] = sum;
                }
            alpha.swap(out);
        };
        blur(true);
        blur(false);
        QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x) {
                const int a =
                    static_cast<int>(std::lround(255 * kShadowOpacity * alpha[static_cast<std::size_t>(y * side + x)]));
                image.setPixel(x, y, qRgba(0, 0, 0, a));
            }
        return image;
    }();
    return shadow;
}

void paintShadow(QPainter &painter, const QRectF &capsule)
{
    const QImage &shadow = circleShadow();
    const int half = shadow.width() / 2;
    const int height = shadow.height();
    // Whole pixels: a blurred shadow loses nothing to the rounding, and the pieces meet without seams.
    const QRectF bounds = PillView::shadowRect(capsule);
    const int left = static_cast<int>(std::lround(bounds.left()));
    const int top = static_cast<int>(std::lround(bounds.top()));
    const int stretch = static_cast<int>(std::lround(std::max(0.0, capsule.width() - PillMetrics::kNarrowWidth)));
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QPoint(left, top), shadow, QRect(0, 0, half, height));
    if (stretch > 0)
        painter.drawImage(QRect(left + half, top, stretch, height), shadow, QRect(half, 0, 1, height));
    painter.drawImage(QPoint(left + half + stretch, top), shadow, QRect(half, 0, shadow.width() - half, height));
    painter.restore();
}

} // namespace

QRectF PillView::shadowRect(const QRectF &capsule)
{
    // One pixel more on every side than the picture covers, for the rounding to whole pixels.
    return capsule.adjusted(-kShadowMargin - 1, kShadowOffset - kShadowMargin - 1, kShadowMargin + 1,
                            kShadowOffset + kShadowMargin + 1);
}

PillTone PillView::tone(const PillLifecycle &lifecycle, rt::Nanos now)
{
    switch (lifecycle.state.kind()) {
    case PillState::Kind::hidden:
    case PillState::Kind::listening:
        return PillTone::listening;
    case PillState::Kind::locked:
        return PillTone::locked;
    case PillState::Kind::thinking:
        if (lifecycle.rollupAt && now < *lifecycle.rollupAt + kRollupTone)
            return PillTone::rollingUp;
        return PillTone::thinking;
    case PillState::Kind::done:
        return PillTone::done;
    case PillState::Kind::muted:
        return PillTone::muted;
    }
    return PillTone::listening;
}

Palette::Token PillView::tint(PillTone tone, Colorway colorway)
{
    if (tone == PillTone::thinking)
        return Palette::textSecondary;
    if (tone == PillTone::muted)
        return Palette::danger;
    if (colorway != Colorway::consensusMint)
        return colorwayAccent(colorway);
    switch (tone) {
    case PillTone::listening:
        return Palette::idleAccent;
    case PillTone::locked:
    case PillTone::rollingUp:
        return Palette::accent;
    case PillTone::done:
        return Palette::success;
    case PillTone::thinking:
    case PillTone::muted:
        break;
    }
    return Palette::accent;
}

Palette::Token PillView::secondaryTint(PillTone tone, Colorway colorway)
{
    if (tone == PillTone::muted)
        return Palette::danger;
    if (tone == PillTone::locked)
        return colorway == Colorway::consensusMint ? Palette::focus : colorwayAccent(colorway);
    return Palette::hairline;
}

Palette::Token PillView::fill(Colorway colorway)
{
    return colorwayBackground(colorway).value_or(Palette::surfaceRaised);
}

QString PillView::statusText(const PillLifecycle &lifecycle)
{
    const auto capturing = [&lifecycle](const QString &live) {
        if (lifecycle.captureLive)
            return live;
        return lifecycle.captureWasLive ? QStringLiteral("Cleaning up") : QStringLiteral("Connecting");
    };
    switch (lifecycle.state.kind()) {
    case PillState::Kind::hidden:
        return QStringLiteral("Connecting");
    case PillState::Kind::listening:
        return capturing(QStringLiteral("Listening"));
    case PillState::Kind::locked:
        return capturing(QStringLiteral("Listening, session locked"));
    case PillState::Kind::thinking:
        return QStringLiteral("Cleaning up");
    case PillState::Kind::done:
        return QStringLiteral("Inserted");
    case PillState::Kind::muted:
        return lifecycle.state.notice();
    }
    return {};
}

QFont PillView::noticeFont()
{
    return textFont(kNoticeStyle);
}

QString PillView::noticeLine(const QString &notice, double room)
{
    const QFontMetricsF metrics(noticeFont());
    if (metrics.horizontalAdvance(notice) <= room)
        return notice;
    // A notice reads "<title>. <detail>".
    const qsizetype stop = notice.indexOf(QStringLiteral(". "));
    const QString title = stop > 0 ? notice.left(stop) : notice;
    return metrics.elidedText(title, Qt::ElideRight, room);
}

PillView::NoticeShown PillView::noticeShown(rt::Nanos now) const
{
    const auto grown = [&] { return reduceMotion ? 1.0 : kNoticeGrowth.progress(now - lifecycle.stateAt); };
    if (lifecycle.state.is(PillState::Kind::muted)) {
        // Laid out in a capsule that is still growing, the words would start under the mark and be
        // cut at the edge: they come once the capsule has its width.
        const rt::Nanos since = now - lifecycle.stateAt - kNoticeGrow;
        const double words = reduceMotion ? 1.0 : std::clamp(rt::Seconds(since) / kNoticeWordsFade, 0.0, 1.0);
        return {lifecycle.state.notice(), grown(), words};
    }
    // A take that starts while the notice shows: the capsule narrows without its words.
    if (lifecycle.previous.is(PillState::Kind::muted))
        return {lifecycle.previous.notice(), 1 - grown(), 0};
    return {};
}

double PillView::bareWidth(rt::Nanos now) const
{
    return animationStyle == PillAnimationStyle::logoBars ? lifecycle.pillWidth(reduceMotion, now)
                                                          : PillMetrics::kNarrowWidth;
}

QRectF PillView::capsuleIn(const QRectF &rect, double width)
{
    return {rect.center().x() - width / 2, rect.center().y() - PillMetrics::kHeight / 2, width, PillMetrics::kHeight};
}

QRectF PillView::capsuleRect(const QRectF &rect, rt::Nanos now) const
{
    double width = bareWidth(now);
    if (const NoticeShown notice = noticeShown(now); notice.progress > 0) {
        const double full = noticeWidth(noticeLine(notice.text, kNoticeRoom));
        width += (full - PillMetrics::kNarrowWidth) * notice.progress;
    }
    return capsuleIn(rect, width);
}

QRectF PillView::visibleCapsule(const QRectF &rect, rt::Nanos now) const
{
    const PillLifecycle::Presence presence = lifecycle.presence(now);
    const double scale = reduceMotion ? 1 : presence.scale;
    const double offset = reduceMotion ? 0 : presence.offset;
    const QRectF capsule = capsuleRect(rect, now);
    const QPointF centre = rect.center();
    return QRectF(centre + (capsule.topLeft() - centre) * scale + QPointF(0, offset), capsule.size() * scale);
}

PillView::Look PillView::look(const QRectF &rect, rt::Nanos now) const
{
    Look look;
    const PillLifecycle::Presence presence = lifecycle.presence(now);
    // A shown pill that cannot fade stands whole from the first frame of its entry.
    const bool whole = !canFade && lifecycle.shownAt && !lifecycle.exitAt;
    const double opacity = whole ? 1.0 : presence.opacity;
    if (opacity <= 0)
        return look;
    // The tone, the presence and the colours.
    const PillTone frameTone = tone(lifecycle, now);
    look.opacity = opacity;
    look.scale = reduceMotion ? 1 : presence.scale;
    look.offset = reduceMotion ? 0 : presence.offset;
    look.fill = Palette::color(fill(colorway), scheme);
    look.tint = Palette::color(tint(frameTone, colorway), scheme);
    look.border = Palette::color(secondaryTint(frameTone, colorway), scheme);
    // A locked take is ringed as a focused card is: a hairline of the accent alone reads, on a
    // 36-point capsule, as the listening pill's own faint border.
    look.borderWidth = frameTone == PillTone::locked ? Metrics::kRingWidth : Metrics::kHairline;
    // The content, back to front: the bar meter or the listening animation, the mark, the notice.
    if (animationStyle == PillAnimationStyle::logoBars)
        look.bars = barMeter(now);
    else
        look.arcs = animationMeter(now);
    look.mark = mark(now);
    const NoticeShown notice = noticeShown(now);
    look.noticeProgress = notice.progress;
    if (notice.wordsOpacity > 0) {
        look.wordsOpacity = notice.wordsOpacity;
        look.notice = noticeLine(notice.text, kNoticeRoom);
        look.noticeFont = noticeFont();
        look.noticeColor = Palette::color(Palette::textPrimary, scheme);
    }
    // The frame the content centres in.
    look.width = capsuleRect(rect, now).width();
    return look;
}

void PillView::paint(QPainter &painter, const QRectF &rect, rt::Nanos now) const
{
    paint(painter, rect, look(rect, now));
}

void PillView::paint(QPainter &painter, const QRectF &rect, const Look &look)
{
    if (look.opacity <= 0)
        return;
    // The fade applies to the pill as one picture: drawn layer by layer at partial opacity, the
    // shadow would show through the capsule and the mark would outshine it.
    if (look.opacity < 1) {
        // The layer holds the shadow too, which reaches past `rect`: the presence scale only pulls
        // it in towards the centre, the offset moves it down.
        const QRectF area =
            rect.united(shadowRect(capsuleIn(rect, look.width)).translated(0, std::max(0.0, look.offset)))
                .toAlignedRect();
        const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
        QImage layer((area.size() * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
        layer.setDevicePixelRatio(ratio);
        layer.fill(Qt::transparent);
        QPainter layerPainter(&layer);
        layerPainter.translate(-area.topLeft());
        paintOpaque(layerPainter, rect, look);
        layerPainter.end();
        painter.save();
        painter.setOpacity(painter.opacity() * look.opacity);
        painter.drawImage(area.topLeft(), layer);
        painter.restore();
        return;
    }
    paintOpaque(painter, rect, look);
}

void PillView::paintOpaque(QPainter &painter, const QRectF &rect, const Look &look)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    applyPresence(painter, rect, look);

    const QRectF capsule = capsuleIn(rect, look.width);
    const QPainterPath shape = capsulePath(capsule);
    paintShadow(painter, capsule);
    painter.fillPath(shape, look.fill);

    painter.save();
    painter.setClipPath(shape);
    if (look.bars)
        paintBarMeter(painter, capsule, look.tint, *look.bars);
    if (look.arcs)
        paintAnimationMeter(painter, capsule, look.tint, *look.arcs);
    paintMark(painter, capsule, look);
    paintNotice(painter, capsule, look);
    painter.restore();

    paintBorder(painter, capsule, look.border, look.borderWidth);
    painter.restore();
}

void PillView::applyPresence(QPainter &painter, const QRectF &rect, const Look &look)
{
    const QPointF centre = rect.center();
    painter.translate(centre.x(), centre.y() + look.offset);
    painter.scale(look.scale, look.scale);
    painter.translate(-centre);
}

std::optional<std::array<ZepaMeter::Bar, 4>> PillView::barMeter(rt::Nanos now) const
{
    const PillLifecycle &life = lifecycle;
    const bool capturing = life.isCapturing();
    const bool rollingUp = !reduceMotion && life.rollupAt && now - *life.rollupAt < kBarRollupWindow &&
                           !(capturing && !life.captureWasLive);
    if (!(capturing && life.captureLive) && !rollingUp)
        return std::nullopt;
    ZepaMeter meter;
    meter.height = PillMetrics::kBarMeterHeight;
    if (capturing && life.captureLive && engineCaptureLive)
        meter.history = liveHistory;
    meter.now = now;
    meter.staggered = !reduceMotion;
    if (!reduceMotion && life.rollupAt)
        meter.rollupElapsed = now - *life.rollupAt;
    if (!reduceMotion && life.captureLive)
        meter.revealElapsed = life.captureAt ? now - *life.captureAt : rt::Nanos(0);
    meter.rollupFrom = life.rollupFrom(PillMetrics::kBarMeterHeight);
    return meter.bars();
}

void PillView::paintBarMeter(QPainter &painter, const QRectF &capsule, const QColor &color,
                             const std::array<ZepaMeter::Bar, 4> &bars)
{
    const double height = PillMetrics::kBarMeterHeight;
    ZepaMeter meter;
    meter.height = height;
    const QPointF at = capsule.center() + QPointF(PillMetrics::kBarMeterShift, 0);
    ZepaMeter::paintBars(painter,
                         QRectF(at.x() - meter.frameWidth() / 2, at.y() - height / 2, meter.frameWidth(), height),
                         height, color, bars);
}

std::optional<PillView::Look::Arcs> PillView::animationMeter(rt::Nanos now) const
{
    const PillLifecycle &life = lifecycle;
    const double rollup = life.rollupProgress(now);
    const auto motion = vekMotionOf(animationStyle);
    if (!motion || (!life.captureLive && (reduceMotion || !life.rollupAt || rollup >= 1)))
        return std::nullopt;
    VekPillMeter meter;
    meter.motion = *motion;
    meter.now = now;
    if (life.captureLive && engineCaptureLive) {
        meter.history = liveHistory;
    } else if (life.rollupAt) {
        // Frozen at the end of the capture while it fades out.
        meter.history = life.rollupHistory;
        if (!life.captureLive)
            meter.now = *life.rollupAt;
    }
    meter.startedAt = life.captureAt.value_or(now);
    meter.staggered = !reduceMotion;
    return Look::Arcs{*motion, meter.levels(), meter.waveElapsed(), reduceMotion ? 1 : 1 - rollup};
}

void PillView::paintAnimationMeter(QPainter &painter, const QRectF &capsule, const QColor &color,
                                   const Look::Arcs &arcs)
{
    const QPointF middle = capsule.center();
    painter.save();
    painter.setOpacity(painter.opacity() * arcs.opacity);
    const double size = PillMetrics::kAnimationMeterSize;
    VekPillMeter::paint(painter, QRectF(middle.x() - size / 2, middle.y() - size / 2, size, size), arcs.motion, color,
                        arcs.levels, arcs.waveElapsed);
    painter.restore();
}

std::optional<PillView::Look::Mark> PillView::mark(rt::Nanos now) const
{
    const PillLifecycle &life = lifecycle;
    const bool logoBars = animationStyle == PillAnimationStyle::logoBars;
    if (!life.shownAt || (!logoBars && life.captureLive))
        return std::nullopt;
    const double shift = logoBars ? -PillMetrics::kMarkShift * life.captureFade(reduceMotion, now) : 0;
    const double opacity = !logoBars && life.captureWasLive && !reduceMotion ? life.rollupProgress(now) : 1;
    return Look::Mark{shift, reduceMotion ? 0 : life.markRotation(now), opacity};
}

void PillView::paintMark(QPainter &painter, const QRectF &capsule, const Look &look)
{
    if (!look.mark)
        return;
    const QPointF middle = capsule.center();
    ZepaSymbol mark;
    mark.size = PillMetrics::kMarkSize;
    mark.color = look.tint;
    mark.rotation = look.mark->rotation;
    painter.save();
    painter.setOpacity(painter.opacity() * look.mark->opacity);
    QPointF at = middle + QPointF(look.mark->shift, 0);
    // Beside a notice the mark moves to the round left end.
    const double beside = capsule.left() + kNoticeInset / 2;
    at.rx() += (beside - at.x()) * look.noticeProgress;
    const double size = PillMetrics::kMarkSize;
    mark.paint(painter, QRectF(at.x() - size / 2, at.y() - size / 2, size, size));
    painter.restore();
}

void PillView::paintNotice(QPainter &painter, const QRectF &capsule, const Look &look)
{
    if (look.wordsOpacity <= 0)
        return;
    painter.save();
    painter.setOpacity(painter.opacity() * look.wordsOpacity);
    painter.setFont(look.noticeFont);
    painter.setPen(look.noticeColor);
    const QRectF words(capsule.left() + kNoticeInset, capsule.top(), kNoticeRoom, capsule.height());
    painter.drawText(words, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, look.notice);
    painter.restore();
}

void PillView::paintBorder(QPainter &painter, const QRectF &capsule, const QColor &color, double width)
{
    // A stroke inside the capsule.
    QPen border(color, width, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    border.setMiterLimit(10);
    painter.setPen(border);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(capsulePath(strokedRect(capsule, width)));
}

} // namespace zq
