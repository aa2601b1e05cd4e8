#include "rewards/milestones/MilestoneLine.h"

#include "menubar/brand/SymbolCatalogue.h"
#include "menubar/brand/Typography.h"
#include "rewards/depth/InviteService.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace zq {

namespace {

QFont lineFont()
{
    return textFont(textStyle::small);
}

// The "xmark" of the line: a 16-point square whose whole area takes clicks.
class DismissButton : public QAbstractButton {
public:
    explicit DismissButton(QWidget *parent) : QAbstractButton(parent)
    {
        setFixedSize(16, 16);
        setCursor(Qt::PointingHandCursor);
        setAccessibleName(QStringLiteral("Dismiss"));
        setAccessibleDescription(QStringLiteral("Hides milestone lines permanently"));
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        SymbolCatalogue::paint(painter, QRectF(rect()).adjusted(2.5, 2.5, -2.5, -2.5), QStringLiteral("xmark"),
                               Palette::color(Palette::textTertiary, colorSchemeOf(*this)));
    }
};

} // namespace

MilestoneLine::MilestoneLine(QWidget *parent) : QWidget(parent), m_dismiss(new DismissButton(this))
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(m_dismiss, &QAbstractButton::clicked, this, &MilestoneLine::dismissRequested);
}

void MilestoneLine::setMilestone(Milestone milestone)
{
    m_milestone = milestone;
    setAccessibleName(text(milestone, InviteService::host()));
    update();
}

QString MilestoneLine::text(Milestone milestone, const QString &host)
{
    const QString invite = host + QStringLiteral("/invite");
    switch (milestone) {
    case Milestone::tenThousandWordWeek:
        return QStringLiteral("10,000 words this week. Invites: ") + invite;
    case Milestone::hundredTakes:
        return QStringLiteral("100 takes. Invites: ") + invite;
    }
    return {};
}

QSize MilestoneLine::sizeHint() const
{
    return QSize(348, int(std::ceil(std::max<qreal>(QFontMetricsF(lineFont()).height(), 16) + 16)));
}

MilestoneLine::Fit MilestoneLine::fit(const QString &text, qreal width)
{
    constexpr qreal kMinimumScale = 0.85;
    const QFontMetricsF metrics(lineFont());
    const qreal natural = metrics.horizontalAdvance(text);
    if (natural <= width)
        return {text, 1};
    // Any fraction of the size, not whole pixels: rounded up, a text that fits at 0.9 would be cut.
    const qreal scale = std::max(kMinimumScale, width / natural);
    // The hair of slack keeps a text that fits exactly from being cut by rounding.
    return {metrics.elidedText(text, Qt::ElideRight, width / scale + 0.01), scale};
}

void MilestoneLine::paintText(QPainter &painter, const QRectF &rect, const QString &text, ColorScheme scheme)
{
    const Fit line = fit(text, rect.width());
    painter.save();
    painter.setFont(lineFont());
    painter.setPen(Palette::color(Palette::textSecondary, scheme));
    painter.translate(rect.topLeft());
    painter.scale(line.scale, line.scale);
    painter.drawText(QRectF(0, 0, rect.width() / line.scale + 0.01, rect.height() / line.scale),
                     Qt::AlignLeft | Qt::AlignVCenter, line.text);
    painter.restore();
}

void MilestoneLine::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF textRect(13, 8, std::max(0, m_dismiss->x() - 8 - 13), height() - 16);
    paintText(painter, textRect, text(m_milestone, InviteService::host()), colorSchemeOf(*this));
}

void MilestoneLine::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    emit appeared();
}

void MilestoneLine::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_dismiss->move(width() - 13 - m_dismiss->width(), (height() - m_dismiss->height()) / 2);
}

} // namespace zq
