#include "menubar/MenuActionRow.h"

#include "menubar/MenuCard.h"
#include "menubar/brand/FocusRing.h"
#include "menubar/brand/Metrics.h"
#include "menubar/brand/SymbolCatalogue.h"
#include "menubar/brand/Typography.h"

#include <QEnterEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace zq {

namespace {

// The shortcut tag's padding, and the height a row reserves for its title.
constexpr qreal kTagPaddingX = 12;
constexpr qreal kTagPaddingY = 4;
constexpr qreal kTitleLineHeight = 16;

QSizeF shortcutTagSize(const QString &text)
{
    const QFontMetricsF metrics(textFont(textStyle::caption));
    return QSizeF(metrics.horizontalAdvance(text) + kTagPaddingX, metrics.height() + kTagPaddingY);
}

// The width of the text column of an action row `width` wide, between the tile and the accessory.
qreal actionTextWidth(qreal width, MenuActionRow::Accessory accessory, const QString &shortcutText)
{
    const qreal accessoryWidth = accessory == MenuActionRow::Accessory::chevron ? MenuMetrics::kChevronSize
                                                                                : shortcutTagSize(shortcutText).width();
    const qreal left = MenuMetrics::kRowInset + MenuMetrics::kIconTileSize + MenuMetrics::kRowInset;
    return std::max<qreal>(0, width - left - accessoryWidth - MenuMetrics::kRowInset - MenuMetrics::kAccessoryGap);
}

// The subtitle's lines at `width`, wrapped at word boundaries.
qreal subtitleHeight(qreal width, const QString &subtitle)
{
    if (subtitle.isEmpty())
        return 0;
    const QFontMetricsF metrics(textFont(textStyle::small));
    return metrics.boundingRect(QRectF(0, 0, width, 1e6), Qt::TextWordWrap, subtitle).height();
}

} // namespace

MenuActionRow::MenuActionRow(QString symbol, QString title, QString subtitle, Accessory accessory, QString shortcutText,
                             QWidget *parent)
    : QAbstractButton(parent), m_symbol(std::move(symbol)), m_subtitle(std::move(subtitle)), m_accessory(accessory),
      m_shortcutText(std::move(shortcutText)), m_hover(*this, rowHoverAnimation)
{
    setText(title);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

QSize MenuActionRow::sizeHint() const
{
    return QSize(MenuMetrics::kContentWidth, heightForWidth(MenuMetrics::kContentWidth));
}

int MenuActionRow::heightForWidth(int width) const
{
    return int(std::ceil(heightFor(width, m_subtitle, m_accessory, m_shortcutText)));
}

qreal MenuActionRow::heightFor(qreal width, const QString &subtitle, Accessory accessory, const QString &shortcutText)
{
    const qreal lines = subtitleHeight(actionTextWidth(width, accessory, shortcutText), subtitle);
    const qreal text = subtitle.isEmpty() ? kTitleLineHeight : kTitleLineHeight + MenuMetrics::kLineGap + lines;
    return std::max<qreal>(Metrics::kRowHeight, text + 2 * kMenuRowPaddingY);
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
        const QSizeF size = shortcutTagSize(shortcutText);
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
    const qreal lines = subtitleHeight(width, subtitle);
    const qreal subtitleBlock = subtitle.isEmpty() ? 0 : lines + MenuMetrics::kLineGap;
    const qreal top = rect.center().y() - (titleHeight + subtitleBlock) / 2;
    painter.setFont(titleFont);
    painter.setPen(Palette::color(Palette::textPrimary, scheme));
    painter.drawText(QRectF(left, top, width, titleHeight), Qt::AlignLeft | Qt::AlignVCenter, title);
    if (!subtitle.isEmpty()) {
        painter.setFont(subtitleFont);
        painter.setPen(Palette::color(Palette::textTertiary, scheme));
        painter.drawText(QRectF(left, top + titleHeight + MenuMetrics::kLineGap, width, lines),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, subtitle);
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
          std::max(m_hover.progress(), showsFocusRing(*this) ? 1.0 : 0.0), scheme);
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
