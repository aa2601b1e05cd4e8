#include "menubar/MenuActionRow.h"

#include "menubar/MenuCard.h"
#include "menubar/brand/Metrics.h"
#include "menubar/brand/SymbolCatalogue.h"
#include "menubar/brand/Typography.h"

#include <QEnterEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace zq {

namespace {

// The shortcut tag's padding, and the heights a row reserves for its title and subtitle.
constexpr qreal kTagPaddingX = 12;
constexpr qreal kTagPaddingY = 4;
constexpr qreal kTitleLineHeight = 16;
constexpr qreal kSubtitleLineHeight = 14;

} // namespace

MenuActionRow::MenuActionRow(QString symbol, QString title, QString subtitle, Accessory accessory, QString shortcutText,
                             QWidget *parent)
    : QAbstractButton(parent), m_symbol(std::move(symbol)), m_subtitle(std::move(subtitle)), m_accessory(accessory),
      m_shortcutText(std::move(shortcutText)), m_hover(*this, rowHoverAnimation)
{
    setText(title);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize MenuActionRow::sizeHint() const
{
    const qreal text =
        m_subtitle.isEmpty() ? kTitleLineHeight : kTitleLineHeight + MenuMetrics::kLineGap + kSubtitleLineHeight;
    return QSize(MenuMetrics::kContentWidth, int(std::max<qreal>(Metrics::kRowHeight, text + 2 * kMenuRowPaddingY)));
}

void MenuActionRow::paint(QPainter &painter, const QRectF &rect, const QString &symbol, const QString &title,
                          const QString &subtitle, Accessory accessory, const QString &shortcutText, double hover,
                          ColorScheme scheme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect, menuRowHoverColor(hover, scheme));
    const QRectF tile(rect.left() + MenuMetrics::kRowInset, rect.center().y() - MenuMetrics::kIconTileSize / 2,
                      MenuMetrics::kIconTileSize, MenuMetrics::kIconTileSize);
    paintMenuIconTile(painter, tile, symbol, scheme);

    // The trailing accessory first, so the text knows where to stop.
    qreal trailing = rect.right() - MenuMetrics::kRowInset;
    if (accessory == Accessory::chevron) {
        const QRectF chevron(trailing - MenuMetrics::kChevronSize, rect.center().y() - MenuMetrics::kChevronSize / 2,
                             MenuMetrics::kChevronSize, MenuMetrics::kChevronSize);
        SymbolCatalogue::paint(painter, chevron, QStringLiteral("chevron.right"),
                               Palette::color(Palette::textTertiary, scheme));
        trailing = chevron.left();
    } else {
        const QFont tagFont = textFont(textStyle::caption);
        const QFontMetricsF metrics(tagFont);
        const QSizeF size(metrics.horizontalAdvance(shortcutText) + kTagPaddingX, metrics.height() + kTagPaddingY);
        const QRectF tag(trailing - size.width(), rect.center().y() - size.height() / 2, size.width(), size.height());
        painter.setPen(QPen(Palette::color(Palette::hairline, scheme), Metrics::kHairline));
        painter.setBrush(Palette::color(Palette::controlFill, scheme));
        painter.drawRoundedRect(strokedRect(tag), kMenuTileRadius, kMenuTileRadius);
        painter.setFont(tagFont);
        painter.setPen(Palette::color(Palette::textSecondary, scheme));
        painter.drawText(tag, Qt::AlignCenter, shortcutText);
        trailing = tag.left();
    }

    const qreal left = tile.right() + MenuMetrics::kRowInset;
    const qreal width = std::max<qreal>(0, trailing - MenuMetrics::kAccessoryGap - left);
    const QFont titleFont = textFont(textStyle::rowTitle);
    const QFont subtitleFont = textFont(textStyle::small);
    const qreal titleHeight = QFontMetricsF(titleFont).height();
    const qreal subtitleHeight = subtitle.isEmpty() ? 0 : QFontMetricsF(subtitleFont).height() + MenuMetrics::kLineGap;
    const qreal top = rect.center().y() - (titleHeight + subtitleHeight) / 2;
    painter.setFont(titleFont);
    painter.setPen(Palette::color(Palette::textPrimary, scheme));
    painter.drawText(QRectF(left, top, width, titleHeight), Qt::AlignLeft | Qt::AlignVCenter, title);
    if (!subtitle.isEmpty()) {
        painter.setFont(subtitleFont);
        painter.setPen(Palette::color(Palette::textTertiary, scheme));
        painter.drawText(QRectF(left, top + titleHeight + MenuMetrics::kLineGap, width, subtitleHeight),
                         Qt::AlignLeft | Qt::AlignTop, subtitle);
    }
    painter.restore();
}

void MenuActionRow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipPath(menuCardInterior(*this));
    const ColorScheme scheme = colorSchemeOf(*this);
    paint(painter, rect(), m_symbol, text(), m_subtitle, m_accessory, m_shortcutText,
          std::max(m_hover.progress(), hasFocus() ? 1.0 : 0.0), scheme);
}

void MenuActionRow::enterEvent(QEnterEvent *)
{
    m_hover.setHovering(true);
}

void MenuActionRow::leaveEvent(QEvent *)
{
    m_hover.setHovering(false);
}

} // namespace zq
