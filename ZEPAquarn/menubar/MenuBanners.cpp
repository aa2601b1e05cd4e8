#include "menubar/MenuBanners.h"

#include "menubar/MenuCard.h"
#include "menubar/brand/FocusRing.h"
#include "menubar/brand/Metrics.h"
#include "menubar/brand/SymbolCatalogue.h"
#include "menubar/brand/Typography.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>

namespace zq {

namespace {

constexpr qreal kButtonPadX = 10;
constexpr qreal kButtonPadY = 4;
// The symbol's inset in its tile: a warning sign fills less of it than the banners' other symbols.
constexpr qreal kSymbolInset = 5;
constexpr qreal kIssueSymbolInset = 6.5;
// The narrowest the text column gets, and the banners' vertical padding (an action banner's is
// larger, for its button).
constexpr qreal kMinimumTextWidth = 40;
constexpr qreal kActionPaddingY = 11;
constexpr qreal kIssuePaddingY = 9;
// The issue banner's text starts this far after its tile.
constexpr qreal kIssueTextGap = 10;
// Room enough for any subtitle: its height comes from the wrapped text, not from this.
constexpr qreal kWrapBoundsHeight = 10000;

// A warning-washed banner: a symbol, a title over a wrapped subtitle, and a round button that says
// what a click on the banner does.
struct ActionBanner {
    QString symbol;
    QString title;
    QString subtitle;
    QString button;
};

// The symbol tile at a banner's leading edge.
QRectF iconTile(const QRectF &banner)
{
    return {banner.left() + MenuMetrics::kRowInset, banner.center().y() - MenuMetrics::kIconTileSize / 2,
            MenuMetrics::kIconTileSize, MenuMetrics::kIconTileSize};
}

QSizeF buttonSize(const QString &label)
{
    const QFontMetricsF metrics(textFont(textStyle::value));
    return {metrics.horizontalAdvance(label) + 2 * kButtonPadX, metrics.height() + 2 * kButtonPadY};
}

// Where the banner's text column may run, for a banner `width` wide.
qreal textWidth(qreal width, const QString &button)
{
    return std::max<qreal>(kMinimumTextWidth, width - MenuMetrics::kRowInset - MenuMetrics::kIconTileSize -
                                                  MenuMetrics::kRowInset - MenuMetrics::kAccessoryGap -
                                                  buttonSize(button).width() - MenuMetrics::kRowInset);
}

qreal wrappedHeight(const QFont &font, qreal width, const QString &text)
{
    return QFontMetricsF(font).boundingRect(QRectF(0, 0, width, kWrapBoundsHeight), Qt::TextWordWrap, text).height();
}

qreal bannerHeight(qreal width, const ActionBanner &banner)
{
    const qreal text = QFontMetricsF(textFont(textStyle::rowTitle)).height() + MenuMetrics::kLineGap +
                       wrappedHeight(textFont(textStyle::small), textWidth(width, banner.button), banner.subtitle);
    return std::max<qreal>(Metrics::kRowHeight, std::ceil(text + 2 * kActionPaddingY));
}

void paintBanner(QPainter &painter, const QRectF &rect, const ActionBanner &banner, ColorScheme scheme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    paintMenuCard(painter, rect, Palette::color(Palette::warningWash, scheme),
                  Palette::color(Palette::warningBorder, scheme));
    const QRectF icon = iconTile(rect);
    SymbolCatalogue::paint(painter, icon.adjusted(kSymbolInset, kSymbolInset, -kSymbolInset, -kSymbolInset),
                           banner.symbol, Palette::color(Palette::warning, scheme));

    const QSizeF size = buttonSize(banner.button);
    const QRectF button(rect.right() - MenuMetrics::kRowInset - size.width(), rect.center().y() - size.height() / 2,
                        size.width(), size.height());
    painter.setPen(Qt::NoPen);
    painter.setBrush(Palette::color(Palette::warning, scheme));
    painter.drawRoundedRect(button, button.height() / 2, button.height() / 2);
    painter.setFont(textFont(textStyle::value));
    painter.setPen(Palette::color(Palette::onAccent, scheme));
    painter.drawText(button, Qt::AlignCenter, banner.button);

    const qreal left = icon.right() + MenuMetrics::kRowInset;
    const qreal width = textWidth(rect.width(), banner.button);
    const QFont titleFont = textFont(textStyle::rowTitle);
    const QFont subtitleFont = textFont(textStyle::small);
    const qreal titleHeight = QFontMetricsF(titleFont).height();
    const qreal subtitleHeight = wrappedHeight(subtitleFont, width, banner.subtitle);
    const qreal top = rect.center().y() - (titleHeight + MenuMetrics::kLineGap + subtitleHeight) / 2;
    painter.setFont(titleFont);
    painter.setPen(Palette::color(Palette::textPrimary, scheme));
    const QString elided = QFontMetricsF(titleFont).elidedText(banner.title, Qt::ElideRight, width);
    painter.drawText(QRectF(left, top, width, titleHeight), Qt::AlignLeft | Qt::AlignVCenter, elided);
    painter.setFont(subtitleFont);
    painter.setPen(Palette::color(Palette::textSecondary, scheme));
    painter.drawText(QRectF(left, top + titleHeight + MenuMetrics::kLineGap, width, subtitleHeight),
                     Qt::TextWordWrap | Qt::AlignLeft, banner.subtitle);
    painter.restore();
}

ActionBanner updateBanner(const QString &version)
{
    return {QStringLiteral("arrow.down.circle.fill"), MenuUpdateBanner::title(version), MenuUpdateBanner::subtitle(),
            QStringLiteral("Update")};
}

ActionBanner unseenTriggerBanner()
{
    return {QStringLiteral("keyboard"), UnseenTriggerMenuBanner::title(), UnseenTriggerMenuBanner::subtitle(),
            UnseenTriggerMenuBanner::buttonLabel()};
}

} // namespace

MenuUpdateBanner::MenuUpdateBanner(QWidget *parent) : QAbstractButton(parent)
{
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void MenuUpdateBanner::setVersion(const QString &version)
{
    m_version = version;
    setText(title(version));
    setAccessibleName(title(version));
    setAccessibleDescription(subtitle());
    updateGeometry();
    update();
}

QString MenuUpdateBanner::title(const QString &version)
{
    return QStringLiteral("Update available — %1").arg(version);
}

QString MenuUpdateBanner::subtitle()
{
    return QStringLiteral("A newer ZEPA QUARN is ready to install.");
}

qreal MenuUpdateBanner::heightFor(qreal width)
{
    return bannerHeight(width, updateBanner(QString()));
}

int MenuUpdateBanner::heightForWidth(int width) const
{
    return int(heightFor(width));
}

QSize MenuUpdateBanner::sizeHint() const
{
    return QSize(MenuMetrics::kContentWidth, heightForWidth(width() > 0 ? width() : MenuMetrics::kContentWidth));
}

void MenuUpdateBanner::paint(QPainter &painter, const QRectF &rect, const QString &version, ColorScheme scheme)
{
    paintBanner(painter, rect, updateBanner(version), scheme);
}

void MenuUpdateBanner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paint(painter, rect(), m_version, colorSchemeOf(*this));
    if (showsFocusRing(*this))
        paintFocusRing(painter, rect(), Metrics::kCardRadius, colorSchemeOf(*this));
}

UnseenTriggerMenuBanner::UnseenTriggerMenuBanner(QWidget *parent) : QAbstractButton(parent)
{
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setText(title());
    setAccessibleName(title());
    setAccessibleDescription(subtitle());
}

QString UnseenTriggerMenuBanner::title()
{
    return QStringLiteral("No key starts dictation");
}

QString UnseenTriggerMenuBanner::subtitle()
{
    return QStringLiteral("Fn never reaches this desktop, and it is your only trigger.");
}

QString UnseenTriggerMenuBanner::buttonLabel()
{
    return QStringLiteral("Choose Key");
}

int UnseenTriggerMenuBanner::heightForWidth(int width) const
{
    return int(bannerHeight(width, unseenTriggerBanner()));
}

QSize UnseenTriggerMenuBanner::sizeHint() const
{
    return QSize(MenuMetrics::kContentWidth, heightForWidth(width() > 0 ? width() : MenuMetrics::kContentWidth));
}

void UnseenTriggerMenuBanner::paint(QPainter &painter, const QRectF &rect, ColorScheme scheme)
{
    paintBanner(painter, rect, unseenTriggerBanner(), scheme);
}

void UnseenTriggerMenuBanner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paint(painter, rect(), colorSchemeOf(*this));
    if (showsFocusRing(*this))
        paintFocusRing(painter, rect(), Metrics::kCardRadius, colorSchemeOf(*this));
}

RecentIssueMenuBanner::RecentIssueMenuBanner(QWidget *parent) : QAbstractButton(parent)
{
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleDescription(QStringLiteral("Opens Support with the issue details"));
}

void RecentIssueMenuBanner::setContent(const RecentIssueBannerContent &content)
{
    m_content = content;
    setText(content.title);
    setAccessibleName(content.title + QStringLiteral(", ") + content.subtitle);
    update();
}

QSize RecentIssueMenuBanner::sizeHint() const
{
    const qreal text = QFontMetricsF(textFont(textStyle::value)).height() + MenuMetrics::kLineGap +
                       QFontMetricsF(textFont(textStyle::small)).height();
    return QSize(MenuMetrics::kContentWidth,
                 int(std::max<qreal>(Metrics::kRowHeight, std::ceil(text + 2 * kIssuePaddingY))));
}

void RecentIssueMenuBanner::paint(QPainter &painter, const QRectF &rect, const RecentIssueBannerContent &content,
                                  ColorScheme scheme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    paintMenuCard(painter, rect, Palette::color(Palette::surface, scheme), Palette::color(Palette::hairline, scheme));
    const QRectF icon = iconTile(rect);
    SymbolCatalogue::paint(painter,
                           icon.adjusted(kIssueSymbolInset, kIssueSymbolInset, -kIssueSymbolInset, -kIssueSymbolInset),
                           QStringLiteral("exclamationmark.triangle.fill"), Palette::color(Palette::danger, scheme));
    const QRectF chevron(rect.right() - MenuMetrics::kRowInset - MenuMetrics::kChevronSize,
                         rect.center().y() - MenuMetrics::kChevronSize / 2, MenuMetrics::kChevronSize,
                         MenuMetrics::kChevronSize);
    SymbolCatalogue::paint(painter, chevron, QStringLiteral("chevron.right"),
                           Palette::color(Palette::textTertiary, scheme));

    const qreal left = icon.right() + kIssueTextGap;
    const qreal width = std::max<qreal>(0, chevron.left() - MenuMetrics::kAccessoryGap - left);
    const QFont titleFont = textFont(textStyle::value);
    const QFont subtitleFont = textFont(textStyle::small);
    const qreal titleHeight = QFontMetricsF(titleFont).height();
    const qreal subtitleHeight = QFontMetricsF(subtitleFont).height();
    const qreal top = rect.center().y() - (titleHeight + MenuMetrics::kLineGap + subtitleHeight) / 2;
    // Incident texts are shown as plain text, one line each.
    painter.setFont(titleFont);
    painter.setPen(Palette::color(Palette::textPrimary, scheme));
    painter.drawText(QRectF(left, top, width, titleHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetricsF(titleFont).elidedText(content.title, Qt::ElideRight, width));
    painter.setFont(subtitleFont);
    painter.setPen(Palette::color(Palette::textTertiary, scheme));
    painter.drawText(QRectF(left, top + titleHeight + MenuMetrics::kLineGap, width, subtitleHeight),
                     Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetricsF(subtitleFont).elidedText(content.subtitle, Qt::ElideRight, width));
    painter.restore();
}

void RecentIssueMenuBanner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paint(painter, rect(), m_content, colorSchemeOf(*this));
    if (showsFocusRing(*this))
        paintFocusRing(painter, rect(), Metrics::kCardRadius, colorSchemeOf(*this));
}

} // namespace zq
