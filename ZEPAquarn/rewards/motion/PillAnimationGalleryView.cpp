#include "rewards/motion/PillAnimationGalleryView.h"

#include "menubar/brand/ControlWell.h"
#include "menubar/brand/FocusRing.h"
#include "menubar/brand/Metrics.h"
#include "menubar/brand/SymbolCatalogue.h"
#include "menubar/brand/Text.h"
#include "menubar/brand/Typography.h"
#include "menubar/brand/VekPillMeter.h"
#include "menubar/brand/ZepaMeter.h"
#include "menubar/brand/ZepaSymbol.h"
#include "rewards/FittedLine.h"
#include "rewards/motion/MotionStore.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace zq {

namespace {

constexpr double kPadding = 8;
constexpr double kWellHeight = 58;
// The preview's frame in the well, and the gap between the mark and the bars of the wide pill.
constexpr QSizeF kPreviewSize(82, 52);
constexpr double kMarkToBarsGap = 8;
// The checkmark badge in the well's corner, its inset from the corner and the glyph's inset in it.
constexpr double kBadgeSize = 16;
constexpr double kBadgeInset = 4;
// The gaps between the well, the name and the note; the note's rectangle is this much taller than its text.
constexpr double kTextGap = 8;
constexpr double kNoteSlack = 2;
// The least size the name shrinks to before it is cut.
constexpr double kNameMinimumScale = 0.8;
constexpr int kMinimumTileWidth = 88;
// Room enough for any note: its height comes from the wrapped text, not from this.
constexpr double kNoteBoundsHeight = 1000;

QColor surfaceOf(Colorway colorway, ColorScheme scheme)
{
    return Palette::color(colorwayBackground(colorway).value_or(Palette::surfaceRaised), scheme);
}

TextStyle nameStyle(bool selected)
{
    return textStyle::small.withWeight(selected ? QFont::Medium : QFont::Normal);
}

QFont nameFont(bool selected)
{
    return textFont(nameStyle(selected));
}

QFont noteFont()
{
    return textFont(textStyle::small);
}

double noteHeight(const std::optional<QString> &note, double width)
{
    if (!note)
        return 0;
    return QFontMetricsF(noteFont())
        .boundingRect(QRectF(0, 0, width, kNoteBoundsHeight), Qt::AlignHCenter | Qt::TextWordWrap, *note)
        .height();
}

} // namespace

void paintPillAnimationPreview(QPainter &painter, const QRectF &rect, PillAnimationStyle style, rt::Nanos now,
                               rt::Nanos startedAt, Colorway colorway, ColorScheme scheme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const rt::Nanos t = previewTime(now, startedAt);
    const LevelHistory history = syntheticHistory(t);
    const QColor tint = Palette::color(colorwayAccent(colorway), scheme);
    const QColor surface = surfaceOf(colorway, scheme);
    const QPen hairline(Palette::color(Palette::hairline, scheme), 1);
    const QPointF centre = rect.center();

    if (style == PillAnimationStyle::logoBars) {
        const QRectF capsule(centre.x() - PillMetrics::kWideWidth / 2, centre.y() - PillMetrics::kHeight / 2,
                             PillMetrics::kWideWidth, PillMetrics::kHeight);
        const double radius = PillMetrics::kHeight / 2;
        painter.setPen(Qt::NoPen);
        painter.setBrush(surface);
        painter.drawRoundedRect(capsule, radius, radius);
        painter.setPen(hairline);
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(strokedRect(capsule), radius - Metrics::kHairline / 2, radius - Metrics::kHairline / 2);

        ZepaMeter meter;
        meter.height = PillMetrics::kBarMeterHeight;
        meter.color = tint;
        meter.history = history;
        meter.now = now; // the real time: the bars follow the newest synthetic level
        meter.staggered = true;
        const double rowWidth = PillMetrics::kMarkSize + kMarkToBarsGap + meter.frameWidth();
        const double left = centre.x() - rowWidth / 2;
        ZepaSymbol mark;
        mark.size = PillMetrics::kMarkSize;
        mark.color = tint;
        mark.paint(painter, QRectF(left, centre.y() - PillMetrics::kMarkSize / 2, PillMetrics::kMarkSize,
                                   PillMetrics::kMarkSize));
        meter.paint(painter, QRectF(left + PillMetrics::kMarkSize + kMarkToBarsGap,
                                    centre.y() - PillMetrics::kBarMeterHeight / 2, meter.frameWidth(),
                                    PillMetrics::kBarMeterHeight));
    } else if (const auto motion = vekMotionOf(style)) {
        const double radius = PillMetrics::kNarrowWidth / 2;
        const QRectF circle(centre.x() - radius, centre.y() - radius, PillMetrics::kNarrowWidth,
                            PillMetrics::kNarrowWidth);
        painter.setPen(Qt::NoPen);
        painter.setBrush(surface);
        painter.drawEllipse(circle);
        painter.setPen(hairline);
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(strokedRect(circle));
        const double meter = PillMetrics::kAnimationMeterSize;
        paintVekPillMeter(painter, QRectF(centre.x() - meter / 2, centre.y() - meter / 2, meter, meter), *motion, tint,
                          history, t, startedAt, true);
    }
    painter.restore();
}

void paintPillAnimationTile(QPainter &painter, const QRectF &rect, const PillAnimationOption &option, rt::Nanos now,
                            rt::Nanos startedAt, ColorScheme scheme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // A locked tile dims its frame and, twice over, its preview; its words stay at full strength, or
    // the name and the note of what is locked could not be read.
    const double dim = option.isSelectable ? 1.0 : Metrics::kDisabledOpacity;
    const double opacity = painter.opacity();

    QPainterPath shape;
    shape.addRoundedRect(rect, Metrics::kCardRadius, Metrics::kCardRadius);
    if (option.isSelected)
        painter.fillPath(shape, Palette::color(Palette::accentWash, scheme));

    const QRectF content = rect.adjusted(kPadding, kPadding, -kPadding, -kPadding);
    painter.save();
    painter.setOpacity(opacity * dim * dim);
    const QRectF well(content.left(), content.top(), content.width(), kWellHeight);
    QPainterPath wellShape;
    wellShape.addRoundedRect(well, Metrics::kControlRadius, Metrics::kControlRadius);
    painter.fillPath(wellShape, Palette::color(Palette::controlFill, scheme));
    painter.setClipPath(wellShape);
    paintPillAnimationPreview(
        painter, QRectF(well.center() - QPointF(kPreviewSize.width(), kPreviewSize.height()) / 2, kPreviewSize),
        option.style, now, startedAt, option.colorway, scheme);
    if (option.isSelected) {
        const QRectF badge(well.right() - kBadgeInset - kBadgeSize, well.top() + kBadgeInset, kBadgeSize, kBadgeSize);
        painter.setPen(Qt::NoPen);
        painter.setBrush(surfaceOf(option.colorway, scheme));
        painter.drawEllipse(badge);
        SymbolCatalogue::paint(painter, badge.adjusted(kBadgeInset, kBadgeInset, -kBadgeInset, -kBadgeInset),
                               u"checkmark", Palette::color(colorwayAccent(option.colorway), scheme));
    }
    painter.restore();

    // The name shrinks to 0.8 of its size before it is cut.
    const QRectF name(content.left(), well.bottom() + kTextGap, content.width(),
                      QFontMetricsF(nameFont(option.isSelected)).height());
    const FittedLine fitted =
        FittedLine::fit(displayName(option.style), nameStyle(option.isSelected), name.width(), kNameMinimumScale);
    painter.setFont(fitted.font);
    painter.setPen(Palette::color(option.isSelected ? Palette::textPrimary : Palette::textSecondary, scheme));
    painter.drawText(name, Qt::AlignCenter | Qt::TextSingleLine, fitted.text);

    if (option.unlockNote) {
        // In the secondary colour: the tertiary one is too faint to read beside a dimmed preview.
        const QRectF note(content.left(), name.bottom() + kTextGap, content.width(),
                          noteHeight(option.unlockNote, content.width()) + kNoteSlack);
        painter.setFont(noteFont());
        painter.setPen(Palette::color(Palette::textSecondary, scheme));
        painter.drawText(note, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, *option.unlockNote);
    }

    painter.setOpacity(opacity * dim);
    painter.setBrush(Qt::NoBrush);
    if (option.isSelected) {
        const double radius = Metrics::kCardRadius - Metrics::kRingWidth / 2;
        painter.setPen(QPen(Palette::color(Palette::selectionStroke, scheme), Metrics::kRingWidth));
        painter.drawRoundedRect(strokedRect(rect, Metrics::kRingWidth), radius, radius);
    } else {
        strokeInsideEdge(painter, rect, Metrics::kCardRadius, Palette::color(Palette::hairline, scheme));
    }
    painter.restore();
}

PillAnimationTile::PillAnimationTile(const PillAnimationOption &option, std::function<rt::Nanos()> now, QWidget *parent)
    : QAbstractButton(parent), m_now(std::move(now))
{
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setMinimumWidth(kMinimumTileWidth);
    setCursor(Qt::PointingHandCursor);
    setToolTip(blurb(option.style));
    setAccessibleName(displayName(option.style));
    setOption(option);
}

void PillAnimationTile::setOption(const PillAnimationOption &option)
{
    const bool noteChanged = option.unlockNote != m_option.unlockNote;
    m_option = option;
    setEnabled(option.isSelectable);
    setAccessibleDescription(option.accessibilityValue());
    if (noteChanged)
        updateGeometry();
    update();
}

int PillAnimationTile::heightForWidth(int width) const
{
    const double content = width - 2 * kPadding;
    double height = kPadding + kWellHeight + kTextGap + QFontMetricsF(nameFont(true)).height() + kPadding;
    if (m_option.unlockNote)
        height += kTextGap + noteHeight(m_option.unlockNote, content) + kNoteSlack;
    return qCeil(height);
}

void PillAnimationTile::showEvent(QShowEvent *event)
{
    QAbstractButton::showEvent(event);
    // The slowed clock starts when the preview first comes on screen and runs on while the tile lives.
    if (!m_startedAt)
        m_startedAt = m_now();
}

void PillAnimationTile::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // With animations off the preview stands at the moment it came on screen.
    const Motion *motion = Motion::of(*this);
    const rt::Nanos now = motion && motion->animationsOff() && m_startedAt ? *m_startedAt : m_now();
    const ColorScheme scheme = colorSchemeOf(*this);
    paintPillAnimationTile(painter, QRectF(rect()), m_option, now, m_startedAt.value_or(now), scheme);
    if (showsFocusRing(*this)) {
        // The selected tile's stroke has the ring's colour: there the ring goes just inside it.
        const qreal inset = m_option.isSelected ? Metrics::kRingWidth + Metrics::kHairline : 0;
        paintFocusRing(painter, QRectF(rect()).adjusted(inset, inset, -inset, -inset), Metrics::kCardRadius - inset,
                       scheme);
    }
}

PillAnimationGalleryView::PillAnimationGalleryView(MotionStore &motion, double lifetimeReclaimed, Colorway colorway,
                                                   std::function<rt::Nanos()> now, QWidget *parent)
    : QWidget(parent), m_motion(motion), m_lifetimeReclaimed(lifetimeReclaimed), m_colorway(colorway),
      m_now(now ? std::move(now) : [this] {
          const Motion *ticker = Motion::of(*this);
          return ticker ? ticker->now() : rt::Nanos(0);
      }),
      m_frames(motion::liveFrame, [this](rt::Nanos) {
          for (PillAnimationTile *tile : m_tiles)
              tile->update();
          return true;
      })
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(Metrics::kSettingsBlockMargins);
    column->setSpacing(Metrics::kSpacing);

    column->addLayout(explainedHeading(
        QStringLiteral("waveform.circle"), QStringLiteral("Motion"),
        QStringLiteral("Reclaim time to unlock new listening animations. Your dictation is never gated."), this));

    auto *grid = new QGridLayout;
    grid->setSpacing(Metrics::kSmallSpacing);
    const std::vector<PillAnimationOption> options =
        PillAnimationOption::options(m_motion, m_lifetimeReclaimed, m_colorway);
    for (std::size_t i = 0; i < options.size(); ++i) {
        auto *tile = new PillAnimationTile(options[i], m_now, this);
        connect(tile, &QAbstractButton::clicked, this, [this, tile] {
            // Disabled while locked; the action checks again.
            if (tile->option().isSelectable)
                m_motion.select(tile->option().style, m_lifetimeReclaimed);
        });
        grid->addWidget(tile, int(i / 2), int(i % 2), Qt::AlignTop);
        m_tiles.push_back(tile);
    }
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    column->addLayout(grid);

    connect(&m_motion, &MotionStore::styleChanged, this, &PillAnimationGalleryView::rebuild);
    connect(&m_motion, &MotionStore::grandfatheredChanged, this, &PillAnimationGalleryView::rebuild);
}

void PillAnimationGalleryView::setLifetimeReclaimed(double seconds)
{
    m_lifetimeReclaimed = seconds;
    rebuild();
}

void PillAnimationGalleryView::setColorway(Colorway colorway)
{
    m_colorway = colorway;
    rebuild();
}

void PillAnimationGalleryView::rebuild()
{
    const std::vector<PillAnimationOption> options =
        PillAnimationOption::options(m_motion, m_lifetimeReclaimed, m_colorway);
    for (std::size_t i = 0; i < options.size() && i < m_tiles.size(); ++i)
        m_tiles[i]->setOption(options[i]);
}

void PillAnimationGalleryView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (Motion *motion = Motion::of(*this))
        m_frames.start(*motion);
}

void PillAnimationGalleryView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    // Off screen nothing animates: no frames run.
    m_frames.stop();
}

} // namespace zq
