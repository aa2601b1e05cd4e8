#include "window/history/HistoryPage.h"

#include "menubar/brand/ControlWell.h"
#include "menubar/brand/EmptyStateView.h"
#include "menubar/brand/SymbolCatalogue.h"
#include "menubar/brand/Text.h"
#include "menubar/brand/ZepaButton.h"
#include "window/history/HistoryPageList.h"
#include "window/history/HistoryPageModel.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

namespace zq {

HistoryPage::HistoryPage(HistoryPageModel &model, QWidget *parent)
    : QWidget(parent), m_model(model), m_count(new StyledLabel(QString(), textStyle::pageSubtitle)),
      m_copyLast(new ZepaButton(ZepaButtonStyle::primary, QStringLiteral("Copy Last"), QStringLiteral("doc.on.doc"))),
      m_search(new QLineEdit), m_clear(new QToolButton), m_list(new HistoryPageList(model)), m_empty(new EmptyStateView)
{
    setObjectName(QStringLiteral("historyPage"));
    setMinimumSize(560, 440);

    auto *page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);

    // Header: at most 760 wide, centred.
    auto *headerPlace = new QHBoxLayout;
    headerPlace->setContentsMargins(25, 13, 25, 25);
    auto *header = new QWidget(this);
    header->setMaximumWidth(760);
    auto *headerColumn = new QVBoxLayout(header);
    headerColumn->setContentsMargins(0, 0, 0, 0);
    headerColumn->setSpacing(13);
    headerPlace->addWidget(header);
    page->addLayout(headerPlace);

    auto *titleRow = new QHBoxLayout;
    titleRow->setSpacing(13);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(4);
    titles->addWidget(new StyledLabel(QStringLiteral("History"), textStyle::pageTitle, header));
    titles->addWidget(m_count);
    titleRow->addLayout(titles);
    titleRow->addStretch(1);
    m_copyLast->setObjectName(QStringLiteral("copyLastButton"));
    m_copyLast->setFont(textFont(textStyle::button));
    titleRow->addWidget(m_copyLast, 0, Qt::AlignVCenter);
    headerColumn->addLayout(titleRow);

    auto *search = new ControlWell(header);
    search->setFixedHeight(34);
    search->setFocusRingShown(true);
    auto *searchRow = new QHBoxLayout(search);
    searchRow->setContentsMargins(13, 0, 13, 0);
    searchRow->setSpacing(8);
    searchRow->addWidget(new SymbolView(QStringLiteral("magnifyingglass"), 13, Palette::textTertiary, 16, search));
    m_search->setObjectName(QStringLiteral("historySearch"));
    m_search->setFrame(false);
    m_search->setPlaceholderText(QStringLiteral("Search transcripts"));
    m_search->setFont(textFont(textStyle::body));
    // Frameless, the field draws no background: the well shows through in either scheme. (A style
    // sheet here would freeze the colours of the scheme it was polished in.)
    m_search->setAccessibleName(QStringLiteral("Search transcripts"));
    searchRow->addWidget(m_search, 1);
    m_clear->setObjectName(QStringLiteral("clearSearchButton"));
    m_clear->setAutoRaise(true);
    m_clear->setAccessibleName(QStringLiteral("Clear search"));
    m_clear->setToolTip(QStringLiteral("Clear search"));
    m_clear->setCursor(Qt::ArrowCursor);
    paintClearIcon();
    searchRow->addWidget(m_clear);
    headerColumn->addWidget(search);

    // Empty state: centred in what is left.
    m_empty->setObjectName(QStringLiteral("historyEmptyState"));
    page->addWidget(m_empty, 1);
    page->addWidget(m_list, 1);

    connect(m_copyLast, &QAbstractButton::clicked, &m_model, &HistoryPageModel::copyLatest);
    connect(m_search, &QLineEdit::textChanged, &m_model, &HistoryPageModel::setQuery);
    connect(m_clear, &QAbstractButton::clicked, m_search, &QLineEdit::clear);
    connect(&m_model, &HistoryPageModel::rowsChanged, this, &HistoryPage::refresh);
    connect(&m_model, &HistoryPageModel::searchChanged, this, &HistoryPage::refresh);
    connect(&m_model, &HistoryPageModel::feedbackChanged, this, &HistoryPage::refresh);
    refresh();
}

void HistoryPage::refresh()
{
    m_count->setText(m_model.countLine());
    const bool copied = m_model.copiedLatest();
    m_copyLast->setText(copied ? QStringLiteral("Copied") : QStringLiteral("Copy Last"));
    m_copyLast->setSystemImage(copied ? QStringLiteral("checkmark") : QStringLiteral("doc.on.doc"));
    m_copyLast->setSuccess(copied);
    m_copyLast->setEnabled(m_model.canCopyLatest());
    // One space is enough to offer clearing.
    m_clear->setVisible(!m_model.query().isEmpty());
    const auto empty = historyEmptyState(m_model.content());
    m_empty->setVisible(empty.has_value());
    m_list->setVisible(!empty.has_value());
    if (empty)
        m_empty->setContent(empty->symbol, empty->title, empty->subtitle);
}

QWidget *HistoryPage::emptyState() const
{
    return m_empty;
}

StyledLabel *HistoryPage::emptyTitle() const
{
    return m_empty->title();
}

void HistoryPage::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Palette::color(Palette::windowBackground, colorSchemeOf(*this)));
}

void HistoryPage::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        paintClearIcon();
}

void HistoryPage::paintClearIcon()
{
    m_clear->setIcon(QIcon(SymbolCatalogue::pixmap(u"xmark.circle.fill", QSizeF(13, 13),
                                                   Palette::color(Palette::textTertiary, colorSchemeOf(*this)),
                                                   devicePixelRatioF())));
}

} // namespace zq
