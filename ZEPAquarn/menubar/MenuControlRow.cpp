#include "menubar/MenuControlRow.h"

#include "menubar/MenuCard.h"
#include "menubar/brand/Metrics.h"
#include "menubar/brand/Typography.h"

#include <QEnterEvent>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace zq {

MenuControlRow::MenuControlRow(QString symbol, QString title, QWidget *control, QWidget *parent)
    : QWidget(parent), m_symbol(std::move(symbol)), m_title(std::move(title)), m_control(control),
      m_hover(*this, rowHoverAnimation)
{
    setMinimumHeight(Metrics::kRowHeight);
    auto *layout = new QHBoxLayout(this);
    // Room on the leading side for the tile (26) and the title; the control sits at the trailing edge.
    layout->setContentsMargins(int(MenuMetrics::kRowInset), int(kMenuRowPaddingY), int(MenuMetrics::kRowInset),
                               int(kMenuRowPaddingY));
    layout->setSpacing(int(MenuMetrics::kRowInset));
    layout->addStretch(1);
    control->setParent(this);
    layout->addWidget(control, 0, Qt::AlignVCenter);
}

void MenuControlRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipPath(menuCardInterior(*this));
    const ColorScheme scheme = colorSchemeOf(*this);
    painter.fillRect(rect(), menuRowHoverColor(m_hover.progress(), scheme));
    const QRectF tile(MenuMetrics::kRowInset, (height() - MenuMetrics::kIconTileSize) / 2.0, MenuMetrics::kIconTileSize,
                      MenuMetrics::kIconTileSize);
    paintMenuIconTile(painter, tile, m_symbol, scheme);
    painter.setFont(textFont(textStyle::rowTitle));
    painter.setPen(Palette::color(Palette::textPrimary, scheme));
    const qreal textLeft = tile.right() + MenuMetrics::kRowInset;
    const qreal textRight = m_control->geometry().left() - MenuMetrics::kAccessoryGap;
    painter.drawText(QRectF(textLeft, 0, std::max<qreal>(0, textRight - textLeft), height()),
                     Qt::AlignVCenter | Qt::AlignLeft, m_title);
}

void MenuControlRow::enterEvent(QEnterEvent *)
{
    m_hover.setHovering(true);
}

void MenuControlRow::leaveEvent(QEvent *)
{
    m_hover.setHovering(false);
}

namespace {

// Where the text of a note starts and how wide it runs.
constexpr qreal kNoteTextLeft = MenuMetrics::kRowInset + MenuMetrics::kIconTileSize + MenuMetrics::kRowInset;

qreal noteTextWidth(qreal width)
{
    return std::max<qreal>(1, width - kNoteTextLeft - MenuMetrics::kRowInset);
}

qreal wrappedTextHeight(const QFont &font, qreal width, const QString &text)
{
    return QFontMetricsF(font).boundingRect(QRectF(0, 0, width, 10000), Qt::TextWordWrap, text).height();
}

} // namespace

MenuNoteRow::MenuNoteRow(QString symbol, QWidget *parent) : QWidget(parent), m_symbol(std::move(symbol))
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void MenuNoteRow::setText(const QString &title, const QString &detail)
{
    if (title == m_title && detail == m_detail)
        return;
    m_title = title;
    m_detail = detail;
    setAccessibleName(title);
    setAccessibleDescription(detail);
    updateGeometry();
    update();
}

int MenuNoteRow::heightForWidth(int width) const
{
    const qreal textWidth = noteTextWidth(width);
    const qreal text = wrappedTextHeight(textFont(textStyle::rowTitle), textWidth, m_title) + MenuMetrics::kLineGap +
                       wrappedTextHeight(textFont(textStyle::small), textWidth, m_detail);
    return int(std::ceil(std::max<qreal>(Metrics::kRowHeight, text + 2 * kMenuRowPaddingY)));
}

QSize MenuNoteRow::sizeHint() const
{
    const int width = this->width() > 0 ? this->width() : MenuMetrics::kContentWidth;
    return QSize(width, heightForWidth(width));
}

void MenuNoteRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const ColorScheme scheme = colorSchemeOf(*this);
    const qreal top = kMenuRowPaddingY;
    // The tile level with the title, as on a settings page's note.
    paintMenuIconTile(painter,
                      QRectF(MenuMetrics::kRowInset, top, MenuMetrics::kIconTileSize, MenuMetrics::kIconTileSize),
                      m_symbol, scheme);
    const qreal textWidth = noteTextWidth(width());
    const QFont titleFont = textFont(textStyle::rowTitle);
    const qreal titleHeight = wrappedTextHeight(titleFont, textWidth, m_title);
    painter.setFont(titleFont);
    painter.setPen(Palette::color(Palette::textPrimary, scheme));
    painter.drawText(QRectF(kNoteTextLeft, top, textWidth, titleHeight), Qt::TextWordWrap | Qt::AlignLeft, m_title);
    const QFont detailFont = textFont(textStyle::small);
    painter.setFont(detailFont);
    painter.setPen(Palette::color(Palette::textTertiary, scheme));
    painter.drawText(QRectF(kNoteTextLeft, top + titleHeight + MenuMetrics::kLineGap, textWidth,
                            wrappedTextHeight(detailFont, textWidth, m_detail)),
                     Qt::TextWordWrap | Qt::AlignLeft, m_detail);
}

} // namespace zq
