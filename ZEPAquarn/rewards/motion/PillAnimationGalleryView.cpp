#include "rewards/motion/PillAnimationGalleryView.h"

#include "menubar/brand/ControlWell.h"
#include "menubar/brand/SymbolCatalogue.h"
#include "menubar/brand/Text.h"
#include "menubar/brand/VekPillMeter.h"
#include "menubar/brand/ZepaMeter.h"
#include "menubar/brand/ZepaSymbol.h"
#include "rewards/RewardsFont.h"
#include "rewards/motion/MotionStore.h"

#include <QDateTime>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace zq {

namespace {

constexpr double kLockedOpacity = 0.44;
constexpr double kPadding = 8;
constexpr double kWellHeight = 58;
constexpr int kFrameMilliseconds = 34; // under 30 frames a second

double systemNow()
{
    // Seconds since 2001-01-01 UTC, the levels' clock.
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0 - 978307200.0;
}

QColor surfaceOf(Colorway colorway, ColorScheme scheme)
{
    return Palette::color(colorwayBackground(colorway).value_or(Palette::surfaceElevated), scheme);
}

QFont nameFont(bool selected)
{
    return rewardsFont(RewardsFace::system, 11, selected ? QFont::Medium : QFont::Normal, -0.055);
}

QFont noteFont()
{
    return rewardsFont(RewardsFace::system, 11, QFont::Normal, -0.055);
}

double noteHeight(const std::optional<QString> &note, double width)
{
    if (!note)
        return 0;
    return QFontMetricsF(noteFont())
        .boundingRect(QRectF(0, 0, width, 1000), Qt::AlignHCenter | Qt::TextWordWrap, *note)
        .height();
}

} // namespace

void paintPillAnimationPreview(QPainter &painter, const QRectF &rect, PillAnimationStyle style, double now,
                               double startedAt, Colorway colorway, ColorScheme scheme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const double t = previewTime(now, startedAt);
    const LevelHistory history = syntheticHistory(t);
    const QColor tint = Palette::color(colorwayAccent(colorway), scheme);
    const QColor surface = surfaceOf(colorway, scheme);
    const QPen hairline(Palette::color(Palette::hairline, scheme), 1);
    const QPointF centre = rect.center();

    if (style == PillAnimationStyle::logoBars) {
        const QRectF capsule(centre.x() - 33.5, centre.y() - 18, 67, 36);
        painter.setPen(Qt::NoPen);
        painter.setBrush(surface);
        painter.drawRoundedRect(capsule, 18, 18);
        painter.setPen(hairline);
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(capsule.adjusted(0.5, 0.5, -0.5, -0.5), 17.5, 17.5);

        ZepaMeter meter;
        meter.height = 18;
        meter.color = tint;
        meter.history = history;
        meter.now = now; // the real time: the bars follow the newest synthetic level
        meter.staggered = true;
        const double rowWidth = 19 + 8 + meter.frameWidth();
        const double left = centre.x() - rowWidth / 2;
        ZepaSymbol mark;
        mark.size = 19;
        mark.color = tint;
        mark.paint(painter, QRectF(left, centre.y() - 9.5, 19, 19));
        meter.paint(painter, QRectF(left + 27, centre.y() - 9, meter.frameWidth(), 18));
    } else {
        const QRectF circle(centre.x() - 18, centre.y() - 18, 36, 36);
        painter.setPen(Qt::NoPen);
        painter.setBrush(surface);
        painter.drawEllipse(circle);
        painter.setPen(hairline);
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(circle.adjusted(0.5, 0.5, -0.5, -0.5));
        paintVekPillMeter(painter, QRectF(centre.x() - 11, centre.y() - 11, 22, 22), style, tint, history, t, startedAt,
                          true);
    }
    painter.restore();
}

void paintPillAnimationTile(QPainter &painter, const QRectF &rect, const PillAnimationOption &option, double now,
                            double startedAt, ColorScheme scheme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const double outer = option.isSelectable ? 1.0 : kLockedOpacity;
    painter.setOpacity(painter.opacity() * outer);

    QPainterPath shape;
    shape.addRoundedRect(rect, 14, 14);
    if (option.isSelected)
        painter.fillPath(shape, Palette::color(Palette::accentTint, scheme));

    const QRectF content = rect.adjusted(kPadding, kPadding, -kPadding, -kPadding);
    // The preview and the name stand at 0.44 again inside a locked tile; the note does not.
    painter.save();
    painter.setOpacity(painter.opacity() * (option.isSelectable ? 1.0 : kLockedOpacity));
    const QRectF well(content.left(), content.top(), content.width(), kWellHeight);
    QPainterPath wellShape;
    wellShape.addRoundedRect(well, 8, 8);
    painter.fillPath(wellShape, Palette::color(Palette::controlFill, scheme));
    painter.save();
    painter.setClipPath(wellShape);
    paintPillAnimationPreview(painter, QRectF(well.center().x() - 41, well.center().y() - 26, 82, 52), option.style,
                              now, startedAt, option.colorway, scheme);
    if (option.isSelected) {
        const QRectF badge(well.right() - 4 - 16, well.top() + 4, 16, 16);
        painter.setPen(Qt::NoPen);
        painter.setBrush(surfaceOf(option.colorway, scheme));
        painter.drawEllipse(badge);
        SymbolCatalogue::paint(painter, badge.adjusted(4, 4, -4, -4), u"checkmark",
                               Palette::color(colorwayAccent(option.colorway), scheme));
    }
    painter.restore();

    // The name shrinks to 0.8 of its size before it is cut.
    const QString text = displayName(option.style);
    QFont font = nameFont(option.isSelected);
    const double nameHeight = QFontMetricsF(font).height();
    const QRectF name(content.left(), well.bottom() + 8, content.width(), nameHeight);
    for (double size = 11; size >= 11 * 0.8 && QFontMetricsF(font).horizontalAdvance(text) > name.width(); size -= 0.5)
        font = rewardsFont(RewardsFace::system, size, option.isSelected ? QFont::Medium : QFont::Normal, -0.055);
    painter.setFont(font);
    painter.setPen(Palette::color(option.isSelected ? Palette::textPrimary : Palette::textSecondary, scheme));
    painter.drawText(name, Qt::AlignCenter | Qt::TextSingleLine,
                     QFontMetricsF(font).elidedText(text, Qt::ElideRight, name.width()));
    painter.restore();

    if (option.unlockNote) {
        const QRectF note(content.left(), name.bottom() + 8, content.width(),
                          noteHeight(option.unlockNote, content.width()) + 2);
        painter.setFont(noteFont());
        painter.setPen(Palette::color(Palette::textTertiary, scheme));
        painter.drawText(note, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, *option.unlockNote);
    }

    painter.setBrush(Qt::NoBrush);
    if (option.isSelected) {
        painter.setPen(QPen(Palette::color(Palette::accentBorder, scheme), 2));
        painter.drawRoundedRect(rect.adjusted(1, 1, -1, -1), 13, 13);
    } else {
        strokeInsideEdge(painter, rect, 14, Palette::color(Palette::hairline, scheme));
    }
    painter.restore();
}

PillAnimationTile::PillAnimationTile(const PillAnimationOption &option, std::function<double()> now, QWidget *parent)
    : QAbstractButton(parent), m_now(std::move(now))
{
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setMinimumWidth(88);
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
    double height = kPadding + kWellHeight + 8 + QFontMetricsF(nameFont(true)).height() + kPadding;
    if (m_option.unlockNote)
        height += 8 + noteHeight(m_option.unlockNote, content) + 2;
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
    const double now = m_now();
    paintPillAnimationTile(painter, QRectF(rect()), m_option, now, m_startedAt.value_or(now), colorSchemeOf(*this));
}

PillAnimationGalleryView::PillAnimationGalleryView(MotionStore &motion, double lifetimeReclaimed, Colorway colorway,
                                                   std::function<double()> now, QWidget *parent)
    : QWidget(parent), m_motion(motion), m_lifetimeReclaimed(lifetimeReclaimed), m_colorway(colorway),
      m_now(now ? std::move(now) : std::function<double()>(systemNow))
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(4, 10, 4, 10);
    column->setSpacing(13);

    column->addLayout(explainedHeading(
        QStringLiteral("waveform.circle"), QStringLiteral("Motion"),
        QStringLiteral("Reclaim time to unlock new listening animations. Your dictation is never gated."), this));

    auto *grid = new QGridLayout;
    grid->setSpacing(8);
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

    m_frameTimer.setInterval(kFrameMilliseconds);
    connect(&m_frameTimer, &QTimer::timeout, this, [this] {
        for (PillAnimationTile *tile : m_tiles)
            tile->update();
    });
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
    m_frameTimer.start();
}

void PillAnimationGalleryView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    // Off screen nothing animates: no timer runs.
    m_frameTimer.stop();
}

} // namespace zq
