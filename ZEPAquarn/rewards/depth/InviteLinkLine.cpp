#include "rewards/depth/InviteLinkLine.h"

#include <QFontMetricsF>

namespace zq {

InviteLinkLine::InviteLinkLine(const QFont &font, QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setFont(font);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    // It takes the room its row leaves beside the button, and nothing more.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void InviteLinkLine::setLink(const QString &link)
{
    if (link == m_link)
        return;
    m_link = link;
    setToolTip(link);
    setAccessibleName(link);
    showFitted();
}

QSize InviteLinkLine::minimumSizeHint() const
{
    return {0, QLabel::minimumSizeHint().height()};
}

void InviteLinkLine::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    showFitted();
}

void InviteLinkLine::showFitted()
{
    const QString shown = QFontMetricsF(font()).elidedText(m_link, Qt::ElideRight, contentsRect().width());
    if (shown != text())
        setText(shown);
}

} // namespace zq
