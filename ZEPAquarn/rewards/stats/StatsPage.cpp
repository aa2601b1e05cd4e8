#include "rewards/stats/StatsPage.h"

#include "menubar/brand/ControlWell.h"
#include "menubar/brand/EmptyStateView.h"
#include "menubar/brand/SymbolCatalogue.h"
#include "menubar/brand/Text.h"
#include "rewards/RewardsFont.h"
#include "rewards/motion/PillAnimationOption.h"
#include "rewards/stats/LedgerCard.h"
#include "rewards/stats/StatsPageLayout.h"

#include <QAbstractButton>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QSlider>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace zq {

namespace {

constexpr int kContentWidth = 760;
constexpr int kSidePadding = 25;
constexpr double kCardSpacing = 13;
constexpr double kDisabledOpacity = 0.44;

QColor tokenColor(const QWidget &widget, Palette::Token token)
{
    return Palette::color(token, colorSchemeOf(widget));
}

double orbitCardHeight()
{
    // Padding, a spacer of 16 on each side of the 120-point ring, 13 between them.
    return 25 + 16 + 13 + 120 + 13 + 16 + 25;
}

// The ledger card beside (or above) the week dial, in the colorway of the page.
class LedgerOrbitView final : public QWidget {
public:
    explicit LedgerOrbitView(StatsPageModel &model, QWidget *parent) : QWidget(parent), m_model(model)
    {
        QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return qCeil(placement(width).size().height()); }
    QSize sizeHint() const override { return {kContentWidth, heightForWidth(kContentWidth)}; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const ColorScheme scheme = colorSchemeOf(*this);
        const StatsPageLayout::LedgerOrbitPlacement placed = placement(width());
        const StatsPageModel::Content content = m_model.content();
        LedgerCard{m_model.ledger(locale()), content.colorway}.paint(painter, placed.ledger, scheme);
        paintStatsOrbitCard(painter, placed.orbit, content.orbit, scheme);
    }

private:
    static StatsPageLayout::LedgerOrbitPlacement placement(double width)
    {
        return StatsPageLayout::placeLedgerAndOrbit(width, kCardSpacing, [](int part, double partWidth) {
            return part == 0 ? LedgerCard::naturalHeight(partWidth) : orbitCardHeight();
        });
    }

    StatsPageModel &m_model;
};

// The pager's round buttons: a chevron in a 28-point circle.
class PagerButton final : public QAbstractButton {
public:
    PagerButton(bool pointsLeft, QWidget *parent) : QAbstractButton(parent), m_pointsLeft(pointsLeft)
    {
        setFixedSize(28, 28);
        setCursor(Qt::PointingHandCursor);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(isEnabled() ? 1.0 : kDisabledOpacity);
        const QRectF circle = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setPen(QPen(tokenColor(*this, Palette::hairline), 1));
        painter.setBrush(tokenColor(*this, Palette::surface));
        painter.drawEllipse(circle);
        SymbolCatalogue::paint(painter, QRectF(circle.center() - QPointF(5.5, 5.5), QSizeF(11, 11)),
                               m_pointsLeft ? u"chevron.left" : u"chevron.right",
                               tokenColor(*this, Palette::textSecondary));
    }

private:
    bool m_pointsLeft;
};

// The copy button: its label on the accent, in a rounded rectangle 30 points high.
class CopyButton final : public QAbstractButton {
public:
    explicit CopyButton(QWidget *parent) : QAbstractButton(parent)
    {
        setFont(rewardsFont(RewardsFace::system, 12, QFont::Medium, -0.06));
        setCursor(Qt::PointingHandCursor);
    }
    QSize sizeHint() const override { return {qCeil(QFontMetricsF(font()).horizontalAdvance(text())) + 26, 30}; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(isEnabled() ? 1.0 : kDisabledOpacity);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), 8, 8);
        painter.fillPath(shape, tokenColor(*this, Palette::accent));
        painter.setPen(tokenColor(*this, Palette::onAccent));
        painter.drawText(rect(), Qt::AlignCenter, text());
    }
};

// The typing baseline's hairline outline.
class OutlinedRow final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        strokeInsideEdge(painter, QRectF(rect()), 8, tokenColor(*this, Palette::hairline));
    }
};

// A 4-point dot in the accent.
class AccentDot final : public QWidget {
public:
    explicit AccentDot(QWidget *parent) : QWidget(parent) { setFixedSize(4, 4); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(tokenColor(*this, Palette::accent));
        painter.drawEllipse(QRectF(rect()));
    }
};

// Centres one widget in the full width, at most `maximumWidth` wide, inside `margins` that lie
// outside that width; its height follows the content's height for its width.
class CentredColumn final : public QWidget {
public:
    CentredColumn(QWidget *content, int maximumWidth, QMargins margins, QWidget *parent = nullptr)
        : QWidget(parent), m_content(content), m_maximumWidth(maximumWidth), m_margins(margins)
    {
        content->setParent(this);
        QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
    }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override
    {
        const int inner = contentWidth(width);
        const int height =
            m_content->hasHeightForWidth() ? m_content->heightForWidth(inner) : m_content->sizeHint().height();
        return height + m_margins.top() + m_margins.bottom();
    }
    QSize sizeHint() const override
    {
        const QSize content = m_content->sizeHint();
        return {content.width() + m_margins.left() + m_margins.right(),
                content.height() + m_margins.top() + m_margins.bottom()};
    }
    QSize minimumSizeHint() const override { return {0, 0}; }

protected:
    void resizeEvent(QResizeEvent *) override
    {
        const int inner = contentWidth(width());
        const int left = m_margins.left() + (width() - m_margins.left() - m_margins.right() - inner) / 2;
        m_content->setGeometry(left, m_margins.top(), inner, height() - m_margins.top() - m_margins.bottom());
    }

private:
    int contentWidth(int width) const
    {
        return std::max(0, std::min(m_maximumWidth, width - m_margins.left() - m_margins.right()));
    }

    QWidget *m_content;
    int m_maximumWidth;
    QMargins m_margins;
};

} // namespace

void paintStatsOrbitCard(QPainter &painter, const QRectF &rect, const StatsOrbitComparison &orbit, ColorScheme scheme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(rect, 14, 14);
    painter.fillPath(shape, Palette::color(Palette::surface, scheme));

    const QRectF ring(rect.center().x() - 60, rect.center().y() - 60, 120, 120);
    const int lit = StatsPageLayout::litDotCount(orbit.dialProgress);
    QColor dim = Palette::color(Palette::accent, scheme);
    dim.setAlphaF(dim.alphaF() * 0.24);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < StatsPageLayout::dotCount; ++i) {
        painter.setBrush(i < lit ? Palette::color(Palette::accent, scheme) : dim);
        const QPointF centre = StatsPageLayout::dotCentre(i, ring);
        const double r = StatsPageLayout::dotDiameter / 2;
        painter.drawEllipse(centre, r, r);
    }

    // The percent shrinks (to 0.6 of its size at most) to fit 95 points.
    QFont percentFont = rewardsFont(RewardsFace::brand, 32, QFont::Light, 0);
    for (double size = 32; size >= 32 * 0.6; size -= 1) {
        percentFont = rewardsFont(RewardsFace::brand, size, QFont::Light, 0);
        if (QFontMetricsF(percentFont).horizontalAdvance(orbit.percent) <= 95)
            break;
    }
    const QFont labelFont = rewardsFont(RewardsFace::brand, 11, QFont::Normal, 0);
    const double percentHeight = QFontMetricsF(percentFont).height();
    const double labelHeight = QFontMetricsF(labelFont).height();
    const double top = ring.center().y() - (percentHeight + 4 + labelHeight) / 2;
    painter.setFont(percentFont);
    painter.setPen(Palette::color(Palette::textPrimary, scheme));
    painter.drawText(QRectF(ring.center().x() - 47.5, top, 95, percentHeight), Qt::AlignCenter, orbit.percent);
    painter.setFont(labelFont);
    painter.setPen(Palette::color(Palette::textTertiary, scheme));
    painter.drawText(QRectF(ring.left(), top + percentHeight + 4, ring.width(), labelHeight), Qt::AlignCenter,
                     orbit.previousWeekLabel);

    strokeInsideEdge(painter, rect, 14, Palette::color(Palette::hairline, scheme));
    painter.restore();
}

StatsPage::StatsPage(StatsPageModel &model, QWidget *parent, std::function<QDateTime()> now)
    : QWidget(parent), m_model(model),
      m_now(now ? std::move(now) : std::function<QDateTime()>([] { return QDateTime::currentDateTime(); })),
      m_title(plainTextLabel(QStringLiteral("Your week, in words."),
                             rewardsFont(RewardsFace::system, 19, QFont::Medium, -0.19), this)),
      m_subtitle(plainTextLabel(QStringLiteral("Private statistics stored only on this computer."),
                                rewardsFont(RewardsFace::system, 11, QFont::Normal, -0.055), this)),
      m_previous(new PagerButton(true, this)),
      m_weekLabel(plainTextLabel(QString(), rewardsFont(RewardsFace::brand, 11, QFont::Normal, 0), this)),
      m_next(new PagerButton(false, this)),
      m_unlockLine(plainTextLabel(QString(), rewardsFont(RewardsFace::system, 11, QFont::Normal, -0.055), this)),
      m_unlockRow(new QWidget(this)), m_pages(new QStackedLayout), m_emptyState(new EmptyStateView(this)),
      m_scroll(new QScrollArea(this)), m_ledgerAndOrbit(new LedgerOrbitView(model, this)), m_copy(new CopyButton(this)),
      m_privacyNote(plainTextLabel(QStringLiteral("Nothing leaves this computer"),
                                   rewardsFont(RewardsFace::system, 11, QFont::Normal, -0.055), this)),
      m_baselineLabel(plainTextLabel(QStringLiteral("Typing baseline"),
                                     rewardsFont(RewardsFace::system, 12, QFont::Normal, -0.06), this)),
      m_slider(new QSlider(Qt::Horizontal, this)),
      m_baselineValue(plainTextLabel(QString(), rewardsFont(RewardsFace::brand, 12, QFont::Normal, 0), this)),
      m_baselineRow(new OutlinedRow(this))
{
    setMinimumSize(560, 440);

    m_previous->setAccessibleName(m_model.navigation().previousAccessibilityLabel);
    m_next->setAccessibleName(m_model.navigation().nextAccessibilityLabel);
    m_weekLabel->setMinimumWidth(81);
    m_weekLabel->setAlignment(Qt::AlignCenter);

    // Header: the title and the pager, at most 760 points wide with its padding.
    auto *header = new QWidget(this);
    auto *headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(kSidePadding, 16, kSidePadding, 16);
    headerRow->setSpacing(13);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(4);
    titles->addWidget(m_title);
    titles->addWidget(m_subtitle);
    headerRow->addLayout(titles);
    headerRow->addStretch(1);
    auto *pager = new QHBoxLayout;
    pager->setSpacing(8);
    pager->addWidget(m_previous);
    pager->addWidget(m_weekLabel);
    pager->addWidget(m_next);
    headerRow->addLayout(pager);

    // The copy row and the typing baseline under the cards.
    auto *copyRow = new QHBoxLayout;
    copyRow->setSpacing(13);
    auto *note = new QHBoxLayout;
    note->setSpacing(8);
    note->addWidget(new AccentDot(this));
    note->addWidget(m_privacyNote);
    copyRow->addLayout(note);
    copyRow->addStretch(1);
    copyRow->addWidget(m_copy);

    m_slider->setRange(int(StatsPageModel::minimumTypingWPM), int(StatsPageModel::maximumTypingWPM));
    m_slider->setSingleStep(1);
    m_slider->setPageStep(5);
    m_slider->setFixedWidth(120);
    m_slider->setAccessibleName(QStringLiteral("Typing baseline"));
    m_slider->setFocusPolicy(Qt::StrongFocus);
    auto *baseline = new QHBoxLayout(m_baselineRow);
    baseline->setContentsMargins(13, 10, 13, 10);
    baseline->setSpacing(13);
    baseline->addWidget(m_baselineLabel);
    baseline->addWidget(m_slider);
    baseline->addWidget(m_baselineValue);
    baseline->addStretch(1);

    auto *cards = new QWidget;
    auto *cardColumn = new QVBoxLayout(cards);
    cardColumn->setContentsMargins(0, 0, 0, 0);
    cardColumn->setSpacing(13);
    cardColumn->addWidget(m_ledgerAndOrbit);
    cardColumn->addLayout(copyRow);
    cardColumn->addWidget(m_baselineRow);
    cardColumn->addStretch(1);
    auto *scrollContent = new CentredColumn(cards, kContentWidth, QMargins(kSidePadding, 0, kSidePadding, 57));
    m_scroll->setWidget(scrollContent);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->viewport()->setAutoFillBackground(false);
    scrollContent->setAutoFillBackground(false);

    auto *pages = new QWidget(this);
    pages->setLayout(m_pages);
    m_pages->addWidget(m_scroll);
    // The empty state of a week without takes.
    m_emptyState->setContent(
        QStringLiteral("square.grid.2x2"), QStringLiteral("Your words will add up here."),
        QStringLiteral("Stats begin with ZEPA QUARN 0.2.0. Dictate normally and your first private "
                       "recap will build on this computer."));
    m_pages->addWidget(m_emptyState);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(new CentredColumn(header, kContentWidth, QMargins(), this));
    auto *unlockRow = new QVBoxLayout(m_unlockRow);
    unlockRow->setContentsMargins(kSidePadding, 0, kSidePadding, 13);
    unlockRow->addWidget(m_unlockLine);
    m_unlockLine->setMinimumWidth(0);
    m_unlockLine->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    column->addWidget(new CentredColumn(m_unlockRow, kContentWidth, QMargins(), this));
    column->addWidget(pages, 1);

    connect(m_previous, &QAbstractButton::clicked, this, [this] { m_model.showPreviousWeek(); });
    connect(m_next, &QAbstractButton::clicked, this, [this] { m_model.showNextWeek(); });
    connect(m_copy, &QAbstractButton::clicked, this, [this] { m_model.copyLedger(); });
    connect(m_slider, &QSlider::valueChanged, this, [this](int value) {
        if (value != m_model.typingWPM())
            m_model.setTypingWPM(value);
    });
    connect(&m_model, &StatsPageModel::changed, this, &StatsPage::refresh);
    refresh();
}

bool StatsPage::showsEmptyState() const
{
    return m_pages->currentWidget() == m_emptyState;
}

void StatsPage::refresh()
{
    const StatsWeekNavigationContent navigation = m_model.navigation();
    m_weekLabel->setText(navigation.weekLabel);
    m_next->setEnabled(!navigation.isNextDisabled);
    const bool hasTakes = m_model.hasTakes();
    m_pages->setCurrentWidget(hasTakes ? static_cast<QWidget *>(m_scroll) : m_emptyState);
    m_copy->setEnabled(hasTakes);
    m_copy->setText(m_model.copyFeedback().label);
    m_copy->updateGeometry();
    const qint64 wpm = m_model.typingWPM();
    if (m_slider->value() != wpm) {
        const QSignalBlocker blocker(m_slider);
        m_slider->setValue(int(wpm));
    }
    m_baselineValue->setText(QStringLiteral("%1 WPM").arg(wpm));

    const bool announcing = m_model.unlock().has_value();
    const QString unlockText = announcing ? motionUnlockText(*m_model.unlock()) : QString();
    if (m_unlockLine->text() != unlockText)
        m_unlockLine->setText(unlockText);
    m_unlockRow->parentWidget()->setVisible(announcing);
    if (announcing && isVisible())
        m_model.markUnlockAnnounced();

    setTextColor(*m_title, tokenColor(*this, Palette::textPrimary));
    setTextColor(*m_subtitle, tokenColor(*this, Palette::textTertiary));
    setTextColor(*m_weekLabel, tokenColor(*this, Palette::accent));
    setTextColor(*m_privacyNote, tokenColor(*this, Palette::textTertiary));
    setTextColor(*m_baselineLabel, tokenColor(*this, Palette::textSecondary));
    setTextColor(*m_unlockLine, tokenColor(*this, Palette::textSecondary));
    setTextColor(*m_baselineValue, tokenColor(*this, Palette::textPrimary));
    QPalette sliderPalette = m_slider->palette();
    sliderPalette.setColor(QPalette::Highlight, tokenColor(*this, Palette::accent));
    m_slider->setPalette(sliderPalette);
    // The card and the dial are read out as their summaries, not as their drawn parts.
    if (hasTakes) {
        m_ledgerAndOrbit->setAccessibleName(m_model.ledger(locale()).accessibilityText());
        m_ledgerAndOrbit->setAccessibleDescription(m_model.content().orbit.accessibilityLabel);
    }
    m_ledgerAndOrbit->update();
    update();
}

void StatsPage::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), tokenColor(*this, Palette::windowBackground));
}

void StatsPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Like a page made anew: the current week, the plain copy label, and a fresh look for unlocks.
    if (m_wasHidden)
        m_model.restart(m_now());
    m_wasHidden = false;
    m_model.announcePendingUnlock();
    refresh();
}

void StatsPage::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    // Leaving the page ends its state; the next visit starts it again.
    m_wasHidden = true;
}

void StatsPage::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::LocaleChange)
        refresh();
}

} // namespace zq
