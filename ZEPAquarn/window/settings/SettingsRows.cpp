#include "window/settings/SettingsRows.h"

#include "menubar/brand/FocusRing.h"
#include "menubar/brand/Metrics.h"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace zq {

namespace {

Palette::Token toneToken(DetailTone tone)
{
    switch (tone) {
    case DetailTone::success:
        return Palette::success;
    case DetailTone::danger:
        return Palette::danger;
    case DetailTone::tertiary:
        break;
    }
    return Palette::textTertiary;
}

} // namespace

SettingsSection::SettingsSection(const QString &title, const std::optional<QString> &detail, QWidget *parent)
    : QWidget(parent), m_content(new QVBoxLayout)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);

    auto *header = new QVBoxLayout;
    header->setContentsMargins(4, 0, 4, 0);
    header->setSpacing(2);
    header->addWidget(new StyledLabel(title, textStyle::sectionTitle, this));
    if (detail)
        header->addWidget(new StyledLabel(*detail, textStyle::small, this));
    column->addLayout(header);

    m_content->setContentsMargins(0, 0, 0, 0);
    m_content->setSpacing(0);
    column->addLayout(m_content);
}

void SettingsSection::add(QWidget *item)
{
    item->setParent(this);
    m_content->addWidget(item);
}

SettingsRow::SettingsRow(const QString &icon, const QString &title, const QString &detail, QWidget *control,
                         QWidget *parent)
    : QWidget(parent), m_icon(new SymbolView(icon, 12, Palette::textSecondary, 26, this)),
      m_title(new StyledLabel(title, textStyle::rowTitle, this)),
      m_detail(new StyledLabel(QString(), textStyle::small, this))
{
    setMinimumHeight(44);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(4, 10, 4, 10);
    row->setSpacing(13);
    row->addWidget(m_icon, 0, Qt::AlignVCenter);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(m_title);
    m_detail->setMaximumLines(2);
    texts->addWidget(m_detail);
    row->addLayout(texts, 1);
    row->addSpacing(13);
    if (control)
        row->addWidget(control, 0, Qt::AlignVCenter);
    setDetail(detail);
}

void SettingsRow::setDetail(const QString &detail)
{
    setStatus({DetailTone::tertiary, detail});
}

void SettingsRow::setStatus(const RowStatus &status)
{
    m_detail->setText(status.text);
    m_detail->setColorToken(toneToken(status.tone));
    m_detail->setVisible(!status.isEmpty());
}

QString SettingsRow::detail() const
{
    return m_detail->text();
}

void SettingsRow::setIcon(const QString &icon, Palette::Token tint)
{
    m_icon->setName(icon);
    m_icon->setTint(tint);
}

SettingsDivider::SettingsDivider(QWidget *parent) : QWidget(parent)
{
    setFixedHeight(1);
}

void SettingsDivider::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(QRectF(42, 0, width() - 42, 1), Palette::color(Palette::hairline, colorSchemeOf(*this)));
}

SettingsFAQRow::SettingsFAQRow(const QString &question, const QString &answer, QWidget *parent)
    : QWidget(parent), m_header(new QWidget(this)),
      m_chevron(new SymbolView(QStringLiteral("chevron.down"), 11, Palette::textTertiary, 16, m_header)),
      m_answer(new StyledLabel(answer, textStyle::small, this))
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(4, 10, 4, 10);
    // The 8 points above the answer are its own margin, so they open with it.
    column->setSpacing(0);

    // The whole line is the button, the space before the chevron included.
    m_header->setCursor(Qt::PointingHandCursor);
    m_header->setFocusPolicy(Qt::StrongFocus);
    m_header->installEventFilter(this);
    auto *line = new QHBoxLayout(m_header);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(13);
    line->addWidget(new SymbolView(QStringLiteral("questionmark.circle"), 12, Palette::textSecondary, 26, m_header));
    auto *title = new StyledLabel(question, textStyle::rowTitle, m_header);
    title->setWordWrap(true);
    title->setAttribute(Qt::WA_TransparentForMouseEvents);
    line->addWidget(title, 1);
    line->addSpacing(13);
    line->addWidget(m_chevron);
    column->addWidget(m_header);

    // Never cut once open: the answer wraps onto as many lines as it needs. While it opens it is
    // clipped from the bottom, so its lines stay put.
    m_answer->setWordWrap(true);
    m_answer->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_answer->setContentsMargins(39, 8, 13, 0);
    m_answer->setVisible(false);
    column->addWidget(m_answer);
}

void SettingsFAQRow::setExpanded(bool expanded)
{
    if (m_expanded == expanded)
        return;
    m_expanded = expanded;
    m_turn.setTarget(expanded ? 180.0 : 0.0, *this);
    m_reveal.setTarget(expanded ? 1.0 : 0.0, *this);
}

QWidget *SettingsFAQRow::answer() const
{
    return m_answer;
}

void SettingsFAQRow::applyReveal()
{
    const double shown = m_reveal.value();
    m_answer->setVisible(shown > 0);
    if (shown >= 1) {
        m_answer->setMaximumHeight(QWIDGETSIZE_MAX);
        m_answer->setGraphicsEffect(nullptr);
        return;
    }
    const int width = contentsRect().width() - layout()->contentsMargins().left() - layout()->contentsMargins().right();
    const int full = std::max(m_answer->heightForWidth(width), 0);
    m_answer->setMaximumHeight(int(std::ceil(shown * full)));
    // The answer's ink fades in as it opens.
    auto *fade = qobject_cast<QGraphicsOpacityEffect *>(m_answer->graphicsEffect());
    if (!fade) {
        fade = new QGraphicsOpacityEffect(m_answer);
        m_answer->setGraphicsEffect(fade);
    }
    fade->setOpacity(shown);
}

bool SettingsFAQRow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_header) {
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)
            m_header->update();
        if (event->type() == QEvent::Paint && showsFocusRing(*m_header)) {
            // The question's whole line is the button: the ring goes round it.
            QPainter painter(m_header);
            paintFocusRing(painter, QRectF(m_header->rect()), Metrics::kControlRadius, colorSchemeOf(*m_header));
            return false;
        }
        if (event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton &&
            m_header->rect().contains(static_cast<QMouseEvent *>(event)->position().toPoint())) {
            toggle();
            return true;
        }
        if (event->type() == QEvent::KeyPress) {
            const int keyCode = static_cast<QKeyEvent *>(event)->key();
            if (keyCode == Qt::Key_Space || keyCode == Qt::Key_Return || keyCode == Qt::Key_Enter) {
                toggle();
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace zq
