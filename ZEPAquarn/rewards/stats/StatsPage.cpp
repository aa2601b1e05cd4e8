#include "rewards/stats/StatsPage.h"

#include "menubar/brand/EmptyStateView.h"
#include "menubar/brand/Metrics.h"
#include "menubar/brand/Palette.h"
#include "menubar/brand/Text.h"
#include "menubar/brand/Typography.h"
#include "rewards/motion/MotionUnlockLine.h"
#include "rewards/motion/PillAnimationOption.h"
#include "rewards/stats/AccentDot.h"
#include "rewards/stats/CentredColumn.h"
#include "rewards/stats/LedgerCopyButton.h"
#include "rewards/stats/LedgerOrbitView.h"
#include "rewards/stats/OutlinedRow.h"
#include "rewards/stats/WeekPagerButton.h"

#include <QAbstractButton>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QSlider>
#include <QStackedLayout>
#include <QVBoxLayout>

namespace zq {

namespace {

constexpr QSize kMinimumSize(560, 440);
// The week label keeps its width while the week changes.
constexpr int kWeekLabelMinimumWidth = 81;
constexpr int kHeaderPaddingY = 16;
constexpr int kTitleSpacing = 4;
constexpr int kBaselinePaddingY = 10;
constexpr int kSliderWidth = 120;
constexpr int kSliderPageStep = 5;

QColor tokenColor(const QWidget &widget, Palette::Token token)
{
    return Palette::color(token, colorSchemeOf(widget));
}

} // namespace

StatsPage::StatsPage(StatsPageModel &model, QWidget *parent, std::function<QDateTime()> now)
    : QWidget(parent), m_model(model),
      m_now(now ? std::move(now) : std::function<QDateTime()>([] { return QDateTime::currentDateTime(); })),
      m_title(plainTextLabel(QStringLiteral("Your week, in words."), textFont(textStyle::pageTitle), this)),
      m_subtitle(plainTextLabel(QStringLiteral("Private statistics stored only on this computer."),
                                textFont(textStyle::small), this)),
      m_previous(new WeekPagerButton(true, this)),
      m_weekLabel(plainTextLabel(QString(), textFont(textStyle::figureSmall), this)),
      m_next(new WeekPagerButton(false, this)), m_unlockLine(new MotionUnlockLine(this)),
      m_unlockRow(new QWidget(this)), m_pages(new QStackedLayout), m_emptyState(new EmptyStateView(this)),
      m_scroll(new QScrollArea(this)), m_ledgerAndOrbit(new LedgerOrbitView(model, this)),
      m_copy(new LedgerCopyButton(this)),
      m_privacyNote(plainTextLabel(QStringLiteral("Nothing leaves this computer"), textFont(textStyle::small), this)),
      m_baselineLabel(plainTextLabel(QStringLiteral("Typing baseline"), textFont(textStyle::value), this)),
      m_slider(new QSlider(Qt::Horizontal, this)),
      m_baselineValue(plainTextLabel(QString(), textFont(textStyle::figureValue), this)),
      m_baselineRow(new OutlinedRow(this))
{
    setMinimumSize(kMinimumSize);
    QWidget *header = buildHeader();
    QWidget *pages = buildPages(buildCards());
    layOut(header, pages);
    connectControls();
    refresh();
}

QWidget *StatsPage::buildHeader()
{
    m_previous->setAccessibleName(m_model.navigation().previousAccessibilityLabel);
    m_next->setAccessibleName(m_model.navigation().nextAccessibilityLabel);
    m_weekLabel->setMinimumWidth(kWeekLabelMinimumWidth);
    m_weekLabel->setAlignment(Qt::AlignCenter);

    // The title and the pager, no wider than the page's column.
    auto *header = new QWidget(this);
    auto *headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(Metrics::kPagePadding, kHeaderPaddingY, Metrics::kPagePadding, kHeaderPaddingY);
    headerRow->setSpacing(Metrics::kSpacing);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(kTitleSpacing);
    titles->addWidget(m_title);
    titles->addWidget(m_subtitle);
    headerRow->addLayout(titles);
    headerRow->addStretch(1);
    auto *pager = new QHBoxLayout;
    pager->setSpacing(Metrics::kSmallSpacing);
    pager->addWidget(m_previous);
    pager->addWidget(m_weekLabel);
    pager->addWidget(m_next);
    headerRow->addLayout(pager);
    return header;
}

QWidget *StatsPage::buildCards()
{
    // The copy row and the typing baseline under the cards.
    auto *copyRow = new QHBoxLayout;
    copyRow->setSpacing(Metrics::kSpacing);
    auto *note = new QHBoxLayout;
    note->setSpacing(Metrics::kSmallSpacing);
    note->addWidget(new AccentDot(this));
    note->addWidget(m_privacyNote);
    copyRow->addLayout(note);
    copyRow->addStretch(1);
    copyRow->addWidget(m_copy);

    m_slider->setRange(int(StatsPageModel::minimumTypingWPM), int(StatsPageModel::maximumTypingWPM));
    m_slider->setSingleStep(1);
    m_slider->setPageStep(kSliderPageStep);
    m_slider->setFixedWidth(kSliderWidth);
    m_slider->setAccessibleName(QStringLiteral("Typing baseline"));
    m_slider->setFocusPolicy(Qt::StrongFocus);
    auto *baseline = new QHBoxLayout(m_baselineRow);
    baseline->setContentsMargins(Metrics::kSpacing, kBaselinePaddingY, Metrics::kSpacing, kBaselinePaddingY);
    baseline->setSpacing(Metrics::kSpacing);
    baseline->addWidget(m_baselineLabel);
    baseline->addWidget(m_slider);
    baseline->addWidget(m_baselineValue);
    baseline->addStretch(1);

    auto *cards = new QWidget;
    auto *cardColumn = new QVBoxLayout(cards);
    cardColumn->setContentsMargins(0, 0, 0, 0);
    cardColumn->setSpacing(Metrics::kSpacing);
    cardColumn->addWidget(m_ledgerAndOrbit);
    cardColumn->addLayout(copyRow);
    cardColumn->addWidget(m_baselineRow);
    cardColumn->addStretch(1);
    return cards;
}

QWidget *StatsPage::buildPages(QWidget *cards)
{
    auto *scrollContent =
        new CentredColumn(cards, Metrics::kPageWidth,
                          QMargins(Metrics::kPagePadding, 0, Metrics::kPagePadding, Metrics::kPageBottomPadding));
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
    m_emptyState->setContent(QStringLiteral("square.grid.2x2"), QStringLiteral("Your words will add up here."),
                             QStringLiteral("Stats begin with ZEPA QUARN %1. Dictate normally and your first private "
                                            "recap will build on this computer.")
                                 .arg(QStringLiteral(ZQ_VERSION)));
    m_pages->addWidget(m_emptyState);
    return pages;
}

void StatsPage::layOut(QWidget *header, QWidget *pages)
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(new CentredColumn(header, Metrics::kPageWidth, QMargins(), this));
    auto *unlockRow = new QVBoxLayout(m_unlockRow);
    unlockRow->setContentsMargins(Metrics::kPagePadding, 0, Metrics::kPagePadding, Metrics::kSpacing);
    unlockRow->addWidget(m_unlockLine);
    column->addWidget(new CentredColumn(m_unlockRow, Metrics::kPageWidth, QMargins(), this));
    column->addWidget(pages, 1);
}

void StatsPage::connectControls()
{
    connect(m_previous, &QAbstractButton::clicked, this, [this] { m_model.showPreviousWeek(); });
    connect(m_next, &QAbstractButton::clicked, this, [this] { m_model.showNextWeek(); });
    connect(m_copy, &QAbstractButton::clicked, this, [this] { m_model.copyLedger(); });
    connect(m_slider, &QSlider::valueChanged, this, [this](int value) {
        if (value != m_model.typingWPM())
            m_model.setTypingWPM(value);
    });
    connect(&m_model, &StatsPageModel::changed, this, &StatsPage::refresh);
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
    // The card's height follows its rows, which change with the week.
    m_ledgerAndOrbit->updateGeometry();
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
