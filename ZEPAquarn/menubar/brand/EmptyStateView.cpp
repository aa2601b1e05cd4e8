#include "menubar/brand/EmptyStateView.h"

#include "menubar/brand/SymbolTile.h"
#include "menubar/brand/Text.h"

#include <QFontMetricsF>
#include <QtMath>

#include <algorithm>

namespace zq {

namespace {

constexpr double kMargin = 25;
constexpr double kSpacing = 13;
constexpr double kSubtitleWidth = 420;

} // namespace

EmptyStateView::EmptyStateView(QWidget *parent)
    : QWidget(parent), m_tile(new SymbolTile(this)), m_title(new StyledLabel(QString(), textStyle::sectionTitle, this)),
      m_subtitle(new StyledLabel(QString(), textStyle::value.withColor(Palette::textTertiary), this))
{
    m_title->setAlignment(Qt::AlignCenter);
    m_subtitle->setWordWrap(true);
    m_subtitle->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
}

void EmptyStateView::setContent(const QString &symbol, const QString &title, const QString &subtitle)
{
    m_tile->setSymbol(symbol);
    m_title->setText(title);
    m_subtitle->setText(subtitle);
    place();
}

void EmptyStateView::resizeEvent(QResizeEvent *)
{
    place();
}

// The three stand as one block, centred on the page: the tile, the title on one line, and the
// subtitle wrapped in at most 420.
void EmptyStateView::place()
{
    const QRectF area = QRectF(rect()).adjusted(kMargin, kMargin, -kMargin, -kMargin);
    const double subtitleWidth = std::max(0.0, std::min(area.width(), kSubtitleWidth));
    const double subtitleHeight =
        QFontMetricsF(m_subtitle->font())
            .boundingRect(QRectF(0, 0, subtitleWidth, 1000), Qt::AlignHCenter | Qt::TextWordWrap, m_subtitle->text())
            .height() +
        2;
    const double titleHeight = QFontMetricsF(m_title->font()).height();
    const double tile = SymbolTile::kSide;
    double y = area.center().y() - (tile + kSpacing + titleHeight + kSpacing + subtitleHeight) / 2;

    m_tile->move(qRound(area.center().x() - tile / 2), qRound(y));
    y += tile + kSpacing;
    m_title->setGeometry(QRectF(area.left(), y, area.width(), titleHeight).toAlignedRect());
    y += titleHeight + kSpacing;
    m_subtitle->setGeometry(
        QRectF(area.center().x() - subtitleWidth / 2, y, subtitleWidth, subtitleHeight).toAlignedRect());
}

} // namespace zq
