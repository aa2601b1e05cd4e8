#include "window/SettingsBlocks.h"

#include "menubar/brand/SymbolCatalogue.h"
#include "window/SettingsPageText.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QTextLayout>
#include <QVBoxLayout>
#include <QVariantAnimation>

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

QFont settingsFont(const TextStyle &style)
{
    QFont font;
    font.setPixelSize(qRound(style.size));
    font.setWeight(style.weight);
    font.setLetterSpacing(QFont::AbsoluteSpacing, style.tracking);
    return font;
}

QLabel *plainTextLabel(const QString &text, const QFont &font, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    return label;
}

void setTextColor(QWidget &widget, const QColor &color)
{
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, color);
    widget.setPalette(palette);
}

StyledLabel::StyledLabel(const QString &text, const TextStyle &style, QWidget *parent) : QLabel(parent), m_style(style)
{
    setTextFormat(Qt::PlainText);
    setFont(settingsFont(style));
    setText(text);
    applyColor();
}

void StyledLabel::setColorToken(Palette::Token token)
{
    if (m_style.color == token)
        return;
    m_style.color = token;
    applyColor();
}

void StyledLabel::setMaximumLines(int lines)
{
    m_maximumLines = lines;
    setWordWrap(true);
    // Lines beyond the limit are cut at the bottom, never above the first.
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setMaximumHeight(lines > 0 ? lines * fontMetrics().lineSpacing() : QWIDGETSIZE_MAX);
}

QStringList StyledLabel::linesShown(const QString &text, const QFont &font, qreal width, int maximumLines)
{
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine())
        line.setLineWidth(width);
    layout.endLayout();

    QStringList lines;
    const int count = layout.lineCount();
    for (int i = 0; i < count; ++i) {
        const QTextLine line = layout.lineAt(i);
        if (maximumLines > 0 && i == maximumLines - 1 && count > maximumLines) {
            QString rest = text.mid(line.textStart()).simplified();
            lines.append(QFontMetricsF(font).elidedText(rest, Qt::ElideRight, width));
            break;
        }
        lines.append(text.mid(line.textStart(), line.textLength()).trimmed());
    }
    return lines;
}

void StyledLabel::paintEvent(QPaintEvent *event)
{
    if (m_maximumLines <= 0) {
        QLabel::paintEvent(event);
        return;
    }
    // Drawn by hand so that a cut detail says so with an ellipsis instead of stopping mid-sentence.
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    const QRect area = contentsRect();
    const QFontMetricsF metrics(font());
    qreal baseline = area.top() + metrics.ascent();
    for (const QString &line : linesShown(text(), font(), area.width(), m_maximumLines)) {
        painter.drawText(QPointF(area.left(), baseline), line);
        baseline += metrics.lineSpacing();
    }
}

void StyledLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyColor();
}

void StyledLabel::applyColor()
{
    const QColor color = Palette::color(m_style.color, colorSchemeOf(*this));
    if (palette().color(QPalette::WindowText) == color)
        return;
    // Setting the palette sends a PaletteChange of its own; the colour is equal then, so it stops.
    setTextColor(*this, color);
}

SymbolView::SymbolView(const QString &name, qreal pointSize, Palette::Token tint, int frame, QWidget *parent)
    : QWidget(parent), m_name(name), m_pointSize(pointSize), m_tint(tint)
{
    setFixedSize(frame, frame);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SymbolView::setName(const QString &name)
{
    if (name == m_name)
        return;
    m_name = name;
    update();
}

void SymbolView::setTint(Palette::Token tint)
{
    if (tint == m_tint)
        return;
    m_tint = tint;
    update();
}

void SymbolView::setRotation(qreal degrees)
{
    m_rotation = degrees;
    update();
}

void SymbolView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(QRectF(rect()).center());
    painter.rotate(m_rotation);
    const QRectF glyph(-m_pointSize / 2, -m_pointSize / 2, m_pointSize, m_pointSize);
    SymbolCatalogue::paint(painter, glyph, m_name, Palette::color(m_tint, colorSchemeOf(*this)));
}

QHBoxLayout *explainedHeading(const QString &icon, const QString &title, const QString &explanation, QWidget *parent)
{
    auto *heading = new QHBoxLayout;
    heading->setSpacing(13);
    heading->addWidget(new SymbolView(icon, 12, Palette::textSecondary, 26, parent), 0, Qt::AlignTop);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(2);
    titles->addWidget(new StyledLabel(title, textStyle::rowTitle, parent));
    auto *line = new StyledLabel(explanation, textStyle::small, parent);
    line->setWordWrap(true);
    titles->addWidget(line);
    heading->addLayout(titles, 1);
    return heading;
}

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
    m_detail->setText(detail);
    m_detail->setColorToken(toneToken(detailTone(detail)));
    m_detail->setVisible(!detail.isEmpty());
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
    column->setSpacing(8);

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

    // Never cut: the answer wraps onto as many lines as it needs.
    m_answer->setWordWrap(true);
    m_answer->setContentsMargins(39, 0, 13, 0);
    m_answer->setVisible(false);
    column->addWidget(m_answer);
}

void SettingsFAQRow::setExpanded(bool expanded)
{
    if (m_expanded == expanded)
        return;
    m_expanded = expanded;
    m_answer->setVisible(expanded);
    // The chevron turns in 0.15 s, eased in and out; the animation's timer runs only while it turns.
    if (m_turn)
        m_turn->stop(); // a reversed turn starts from where the chevron is
    auto *turn = new QVariantAnimation(this);
    m_turn = turn;
    turn->setStartValue(m_chevron->rotation());
    turn->setEndValue(expanded ? 180.0 : 0.0);
    turn->setDuration(150);
    turn->setEasingCurve(QEasingCurve::InOutQuad);
    connect(turn, &QVariantAnimation::valueChanged, m_chevron,
            [chevron = m_chevron](const QVariant &value) { chevron->setRotation(value.toDouble()); });
    turn->start(QAbstractAnimation::DeleteWhenStopped);
}

bool SettingsFAQRow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_header) {
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
