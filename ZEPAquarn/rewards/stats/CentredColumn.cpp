#include "rewards/stats/CentredColumn.h"

#include <algorithm>

namespace zq {

CentredColumn::CentredColumn(QWidget *content, int maximumWidth, QMargins margins, QWidget *parent)
    : QWidget(parent), m_content(content), m_maximumWidth(maximumWidth), m_margins(margins)
{
    content->setParent(this);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

int CentredColumn::heightForWidth(int width) const
{
    const int inner = contentWidth(width);
    const int height =
        m_content->hasHeightForWidth() ? m_content->heightForWidth(inner) : m_content->sizeHint().height();
    return height + m_margins.top() + m_margins.bottom();
}

QSize CentredColumn::sizeHint() const
{
    const QSize content = m_content->sizeHint();
    return {content.width() + m_margins.left() + m_margins.right(),
            content.height() + m_margins.top() + m_margins.bottom()};
}

void CentredColumn::resizeEvent(QResizeEvent *)
{
    const int inner = contentWidth(width());
    const int left = m_margins.left() + (width() - m_margins.left() - m_margins.right() - inner) / 2;
    m_content->setGeometry(left, m_margins.top(), inner, height() - m_margins.top() - m_margins.bottom());
}

int CentredColumn::contentWidth(int width) const
{
    return std::max(0, std::min(m_maximumWidth, width - m_margins.left() - m_margins.right()));
}

} // namespace zq
