#include "window/support/IncidentRow.h"

#include "menubar/brand/Metrics.h"
#include "menubar/brand/SymbolCatalogue.h"
#include "menubar/brand/Text.h"
#include "menubar/brand/Typography.h"
#include "menubar/brand/ZepaButton.h"
#include "menubar/brand/ZepaSpinner.h"
#include "window/support/IncidentRowModel.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace zq {

namespace {

StyledLabel *wrappingLabel(const QString &text, Palette::Token tone, QWidget *parent)
{
    auto *label = new StyledLabel(text, textStyle::small, parent);
    label->setColorToken(tone);
    label->setWordWrap(true);
    return label;
}

StyledLabel *brandLabel(const QString &text, QWidget *parent)
{
    auto *label = new StyledLabel(text, textStyle::small, parent);
    label->setFont(textFont(textStyle::figureSmall));
    return label;
}

ZepaButton *smallButton(const QString &title, const QString &symbol, QWidget *parent)
{
    auto *button = new ZepaButton(ZepaButtonStyle::quiet, title, symbol, parent);
    button->setFont(textFont(textStyle::smallButton));
    return button;
}

} // namespace

IncidentRow::IncidentRow(IncidentRowModel &model, QWidget *parent)
    : QWidget(parent), m_model(model),
      m_retry(smallButton(QStringLiteral("Retry Transcription"), QStringLiteral("arrow.clockwise"), this)),
      m_retrying(new QWidget(this)),
      m_copy(smallButton(QStringLiteral("Copy Details"), QStringLiteral("doc.on.doc"), this)),
      m_showRecording(smallButton(QStringLiteral("Show Recording"), {}, this)), m_recordingKept(new QWidget(this)),
      m_date(brandLabel(QString(), this)), m_delete(new QToolButton(this)),
      m_failure(wrappingLabel(QString(), Palette::danger, this)),
      m_revealFailure(wrappingLabel(QString(), Palette::danger, this))
{
    const DictationIncident &issue = m_model.issue();
    setObjectName(QStringLiteral("incidentRow-") + issue.id.toString(QUuid::WithoutBraces));

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(Metrics::kSettingsBlockMargins);
    row->setSpacing(13);
    row->addWidget(new SymbolView(QStringLiteral("exclamationmark.triangle.fill"), 12, Palette::danger, 26, this), 0,
                   Qt::AlignTop);

    auto *body = new QVBoxLayout;
    body->setSpacing(8);
    row->addLayout(body, 1);

    auto *header = new QHBoxLayout;
    header->setSpacing(0);
    auto *title = new StyledLabel(issue.title, textStyle::rowTitle, this);
    header->addWidget(title, 0, Qt::AlignBaseline);
    header->addStretch(1);
    header->addSpacing(10);
    header->addWidget(brandLabel(issue.code, this), 0, Qt::AlignBaseline);
    body->addLayout(header);

    body->addWidget(wrappingLabel(issue.message, Palette::textSecondary, this));
    body->addWidget(wrappingLabel(issue.nextStep, Palette::textTertiary, this));

    auto *actions = new QHBoxLayout;
    actions->setSpacing(8);
    auto *retryingRow = new QHBoxLayout(m_retrying);
    retryingRow->setContentsMargins(10, 0, 10, 0);
    retryingRow->setSpacing(4);
    retryingRow->addWidget(new ZepaSpinner(12, m_retrying), 0, Qt::AlignVCenter);
    auto *retryingText = new StyledLabel(QStringLiteral("Retrying Transcription"), textStyle::small, m_retrying);
    retryingText->setColorToken(Palette::textSecondary);
    retryingRow->addWidget(retryingText, 0, Qt::AlignVCenter);
    retryingRow->addStretch(1);
    m_retrying->setAccessibleName(QStringLiteral("Retrying transcription"));
    m_retrying->setEnabled(false);
    // The button and its retrying look take turns in one slot as wide as the wider: the buttons
    // after it stay where they are while a retry runs.
    const int slot = std::max(m_retry->sizeHint().width(), m_retrying->sizeHint().width());
    m_retry->setMinimumWidth(slot);
    m_retrying->setMinimumWidth(slot);
    actions->addWidget(m_retry);
    actions->addWidget(m_retrying);
    actions->addWidget(m_copy);
    actions->addWidget(m_showRecording);
    actions->addStretch(1);
    body->addLayout(actions);

    auto *footer = new QHBoxLayout;
    footer->setSpacing(8);
    auto *keptRow = new QHBoxLayout(m_recordingKept);
    keptRow->setContentsMargins(0, 0, 0, 0);
    keptRow->setSpacing(4);
    keptRow->addWidget(new SymbolView(QStringLiteral("waveform"), 11, Palette::success, 14, m_recordingKept));
    auto *kept = new StyledLabel(QStringLiteral("Recording kept"), textStyle::small, m_recordingKept);
    kept->setColorToken(Palette::success);
    keptRow->addWidget(kept);
    footer->addWidget(m_recordingKept);
    footer->addStretch(1);
    footer->addWidget(m_date);
    m_delete->setAutoRaise(true);
    m_delete->setFixedSize(22, 22);
    paintDeleteIcon();
    footer->addWidget(m_delete);
    body->addLayout(footer);
    body->addWidget(m_failure);
    body->addWidget(m_revealFailure);

    connect(m_retry, &QAbstractButton::clicked, &m_model, &IncidentRowModel::retry);
    connect(m_copy, &QAbstractButton::clicked, &m_model, &IncidentRowModel::copyDetails);
    connect(m_showRecording, &QAbstractButton::clicked, &m_model, &IncidentRowModel::showRecordingAction);
    connect(m_delete, &QAbstractButton::clicked, &m_model, &IncidentRowModel::deleteAction);
    connect(&m_model, &IncidentRowModel::changed, this, &IncidentRow::refresh);
    refresh();
}

void IncidentRow::refresh()
{
    const IncidentRowLook look = m_model.look();
    m_retry->setVisible(look.hasRecording && !look.retrying);
    m_retrying->setVisible(look.hasRecording && look.retrying);
    m_retry->setEnabled(look.retryEnabled);
    m_retry->setAccessibleName(look.retryAccessibleName);
    m_copy->setText(look.copyTitle);
    m_copy->setSystemImage(look.copySymbol);
    m_copy->setSuccess(m_model.copied());
    m_showRecording->setVisible(look.hasRecording);
    m_recordingKept->setVisible(look.hasRecording);
    m_date->setText(look.dateText);
    m_delete->setEnabled(look.deleteEnabled);
    m_delete->setToolTip(look.deleteHelp);
    m_delete->setAccessibleName(look.deleteHelp);
    m_failure->setText(look.failureMessage.value_or(QString()));
    m_failure->setVisible(look.failureMessage.has_value());
    m_revealFailure->setText(look.revealFailure.value_or(QString()));
    m_revealFailure->setVisible(look.revealFailure.has_value());
}

void IncidentRow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        paintDeleteIcon();
}

void IncidentRow::paintDeleteIcon()
{
    m_delete->setIcon(QIcon(SymbolCatalogue::pixmap(
        u"trash", QSizeF(12, 12), Palette::color(Palette::textSecondary, colorSchemeOf(*this)), devicePixelRatioF())));
}

} // namespace zq
