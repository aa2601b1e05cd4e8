#include "rewards/milestones/MilestoneLine.h"

#include "menubar/brand/SymbolCatalogue.h"
#include "menubar/brand/Typography.h"
#include "rewards/depth/InviteService.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>

namespace zq {

namespace {

QFont lineFont(qreal size = textStyle::small.size)
{
    return textFont(textStyle::small.withSize(size));
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

void MilestoneLine::paintText(QPainter &painter, const QRectF &rect, const QString &text, ColorScheme scheme)
{
    QFont font = lineFont();
    // One line, shrinking down to 0.85 of its size before it is cut.
    const qreal natural = QFontMetricsF(font).horizontalAdvance(text);
    if (natural > rect.width())
        font = lineFont(std::max(11 * 0.85, 11 * rect.width() / natural));
    painter.save();
    painter.setFont(font);
    painter.setPen(Palette::color(Palette::textSecondary, scheme));
    painter.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter,
                     QFontMetricsF(font).elidedText(text, Qt::ElideRight, rect.width()));
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
