#include "rewards/depth/DepthGaugeView.h"

#include "menubar/brand/ControlWell.h"
#include "menubar/brand/FocusRing.h"
#include "menubar/brand/Metrics.h"
#include "menubar/brand/SymbolCatalogue.h"
#include "menubar/brand/Text.h"
#include "menubar/brand/Typography.h"
#include "menubar/brand/ZepaButton.h"
#include "menubar/brand/ZepaSpinner.h"
#include "platform/Pasteboard.h"
#include "rewards/depth/DepthStore.h"
#include "rewards/depth/InviteLinkLine.h"
#include "runtime/Task.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QVBoxLayout>

namespace zq {

namespace {

// The ladder: rung rows, the depth column, the rung's hairline and the swatches.
constexpr int kRungSpacing = 4;
constexpr int kRungPaddingY = 4;
constexpr int kDepthLabelWidth = 28;
constexpr QSize kRungLineSize(1, 26);
constexpr int kRungTextSpacing = 1;
constexpr int kChipSize = 26;
// The ladder and the invite card stand this far in from the heading.
constexpr int kIndent = 4;
// Between the blocks of the gauge, around and inside the invite card.
constexpr int kColumnSpacing = 10;
constexpr int kCardPadding = 10;
// The text button's width beyond its text.
constexpr int kLinkSlack = 2;
// Room around the link's text for its focus ring.
constexpr int kLinkRingRoom = 4;
constexpr int kSpinnerSize = 14;

QLabel *brandLabel(const QString &text, double size, QWidget *parent)
{
    return plainTextLabel(text, textFont(textStyle::figureSmall.withSize(size)), parent);
}

// The card's quiet text button ("Refresh"): accent text, grey while disabled.
class LinkButton final : public QAbstractButton {
public:
    LinkButton(const QString &text, QWidget *parent) : QAbstractButton(parent)
    {
        setText(text);
        setFont(textFont(textStyle::small));
        setCursor(Qt::PointingHandCursor);
    }
    QSize sizeHint() const override
    {
        const QFontMetricsF metrics(font());
        return {qCeil(metrics.horizontalAdvance(text())) + kLinkSlack + 2 * kLinkRingRoom,
                qCeil(metrics.height()) + 2 * kLinkRingRoom};
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const ColorScheme scheme = colorSchemeOf(*this);
        painter.setPen(Palette::color(isEnabled() ? Palette::accent : Palette::textTertiary, scheme));
        const QRect text = rect().adjusted(kLinkRingRoom, kLinkRingRoom, -kLinkRingRoom, -kLinkRingRoom);
        painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, this->text());
        if (showsFocusRing(*this))
            paintFocusRing(painter, QRectF(rect()), Metrics::kControlRadius, scheme);
    }
};

// The rung: a hairline 1 point wide and 26 high.
class RungLine final : public QWidget {
public:
    explicit RungLine(QWidget *parent) : QWidget(parent) { setFixedSize(kRungLineSize); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter(this).fillRect(rect(), Palette::color(Palette::hairline, colorSchemeOf(*this)));
    }
};

} // namespace

void paintDepthChip(QPainter &painter, const QRectF &rect, Colorway colorway, bool isSelected, bool isSelectable,
                    ColorScheme scheme)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(painter.opacity() * (isSelectable ? 1.0 : Metrics::kDisabledOpacity));
    QPainterPath shape;
    shape.addRoundedRect(rect, Metrics::kControlRadius, Metrics::kControlRadius);
    if (isSelectable) {
        painter.fillPath(shape, Palette::color(colorwayBackground(colorway).value_or(Palette::surfaceRaised), scheme));
        const double dot = rect.width() / 3;
        painter.setPen(Qt::NoPen);
        painter.setBrush(Palette::color(colorwayAccent(colorway), scheme));
        painter.drawEllipse(rect.center(), dot / 2, dot / 2);
    } else {
        // Base and dot are the same grey: one fill, so the dimming does not stack where they overlap.
        painter.fillPath(shape, Palette::color(Palette::locked, scheme));
    }
    painter.setBrush(Qt::NoBrush);
    strokeInsideEdge(painter, rect, Metrics::kControlRadius, Palette::color(Palette::hairline, scheme));
    if (isSelected)
        strokeInsideEdge(painter, rect, Metrics::kControlRadius, Palette::color(Palette::focus, scheme));
    painter.restore();
}

DepthChip::DepthChip(Colorway colorway, QWidget *parent) : QAbstractButton(parent), m_colorway(colorway)
{
    setFixedSize(kChipSize, kChipSize);
    setToolTip(displayName(colorway));
    setAccessibleName(displayName(colorway));
    setCursor(Qt::PointingHandCursor);
    setState(false, false);
}

void DepthChip::setState(bool isSelected, bool isSelectable)
{
    m_isSelected = isSelected;
    m_isSelectable = isSelectable;
    setEnabled(isSelectable);
    setAccessibleDescription(accessibilityValue());
    update();
}

QString DepthChip::accessibilityValue() const
{
    if (!m_isSelectable)
        return QStringLiteral("Locked");
    return m_isSelected ? QStringLiteral("Selected") : QStringLiteral("Available");
}

void DepthChip::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const ColorScheme scheme = colorSchemeOf(*this);
    paintDepthChip(painter, QRectF(rect()), m_colorway, m_isSelected, m_isSelectable, scheme);
    if (showsFocusRing(*this)) {
        // The selected chip's stroke has the ring's colour: there the ring goes just inside it.
        const qreal inset = m_isSelected ? Metrics::kHairline : 0;
        paintFocusRing(painter, QRectF(rect()).adjusted(inset, inset, -inset, -inset), Metrics::kControlRadius - inset,
                       scheme);
    }
}

DepthGaugeView::DepthGaugeView(DepthStore &depth, rt::MainLoop &loop, platform::Pasteboard *pasteboard, QWidget *parent)
    : QWidget(parent), m_depth(depth), m_loop(loop), m_pasteboard(pasteboard), m_card(new ControlWell(this)),
      m_linkRow(new QWidget(m_card)), m_linkLine(new InviteLinkLine(textFont(textStyle::figureSmall), m_linkRow)),
      m_copyButton(new ZepaButton(ZepaButtonStyle::primary, QString(), QString(), m_linkRow)),
      m_countRow(new QWidget(m_card)), m_countLine(new StyledLabel(QString(), textStyle::small, m_countRow)),
      m_refreshButton(new LinkButton(QStringLiteral("Refresh"), m_countRow)),
      m_disclosure(new StyledLabel(QString(), textStyle::small, m_card)),
      m_createButton(new ZepaButton(ZepaButtonStyle::primary, QString(), QStringLiteral("person.2"), m_card)),
      m_spinner(new ZepaSpinner(kSpinnerSize, m_createButton)),
      m_errorLine(new StyledLabel(QString(), textStyle::small.withColor(Palette::danger), m_card)),
      m_copied(loop, [this] { refresh(); })
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(Metrics::kSettingsBlockMargins);
    column->setSpacing(kColumnSpacing);

    // Header: the symbol, the title and what the ladder is for.
    column->addLayout(
        explainedHeading(QStringLiteral("water.waves"), QStringLiteral("Depth"),
                         QStringLiteral("Share ZEPA QUARN to unlock deeper skins. Dictation is never gated."), this));

    // The ladder: the surface and the three tiers, each with its swatches.
    auto *ladder = new QVBoxLayout;
    ladder->setContentsMargins(kIndent, 0, 0, 0);
    ladder->setSpacing(kRungSpacing);
    const DepthGaugeContent content(m_depth.unlocked());
    for (std::size_t i = 0; i < content.rows.size(); ++i) {
        const DepthGaugeContent::Row &row = content.rows[i];
        auto *rung = new QHBoxLayout;
        rung->setContentsMargins(0, kRungPaddingY, 0, kRungPaddingY);
        rung->setSpacing(Metrics::kSpacing);
        m_depthLabels[i] = brandLabel(row.depthLabel, 11, this);
        m_depthLabels[i]->setFixedWidth(kDepthLabelWidth);
        m_depthLabels[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        rung->addWidget(m_depthLabels[i]);
        rung->addWidget(new RungLine(this));
        auto *texts = new QVBoxLayout;
        texts->setSpacing(kRungTextSpacing);
        m_rungNames[i] = new StyledLabel(row.name, textStyle::value.withColor(Palette::textPrimary), this);
        m_stateLabels[i] = brandLabel(row.stateLabel, 11, this);
        texts->addWidget(m_rungNames[i]);
        texts->addWidget(m_stateLabels[i]);
        rung->addLayout(texts);
        rung->addStretch(1);
        rung->addSpacing(kColumnSpacing);
        auto *chips = new QHBoxLayout;
        chips->setSpacing(Metrics::kSmallSpacing);
        for (const Colorway colorway : row.colorways) {
            auto *chip = new DepthChip(colorway, this);
            connect(chip, &QAbstractButton::clicked, this, [this, chip] {
                // The button is disabled while locked; the action checks again.
                if (chip->isSelectable())
                    m_depth.setSelection(chip->colorway());
            });
            chips->addWidget(chip);
            m_chips.push_back(chip);
        }
        rung->addLayout(chips);
        ladder->addLayout(rung);
    }
    column->addLayout(ladder);

    // The invite card.
    auto *linkRow = new QHBoxLayout(m_linkRow);
    linkRow->setContentsMargins(0, 0, 0, 0);
    linkRow->setSpacing(kColumnSpacing);
    linkRow->addWidget(m_linkLine, 1);
    linkRow->addWidget(m_copyButton);
    auto *countRow = new QHBoxLayout(m_countRow);
    countRow->setContentsMargins(0, 0, 0, 0);
    countRow->setSpacing(Metrics::kSmallSpacing);
    countRow->addWidget(m_countLine);
    countRow->addWidget(m_refreshButton);
    countRow->addStretch(1);
    m_disclosure->setWordWrap(true);
    m_errorLine->setWordWrap(true);

    auto *card = new QVBoxLayout(m_card);
    card->setContentsMargins(kCardPadding, kCardPadding, kCardPadding, kCardPadding);
    card->setSpacing(Metrics::kSmallSpacing);
    card->addWidget(m_linkRow);
    card->addWidget(m_countRow);
    card->addWidget(m_disclosure);
    card->addWidget(m_createButton, 0, Qt::AlignLeft);
    card->addWidget(m_errorLine);
    auto *cardIndent = new QHBoxLayout;
    cardIndent->setContentsMargins(kIndent, 0, 0, 0);
    cardIndent->addWidget(m_card);
    column->addLayout(cardIndent);

    connect(m_copyButton, &QAbstractButton::clicked, this,
            [this] { copyLink(InviteShareContent(m_depth.code(), m_depth.verifiedDownloads()).shareURL); });
    connect(m_createButton, &QAbstractButton::clicked, this, &DepthGaugeView::createLink);
    connect(m_refreshButton, &QAbstractButton::clicked, this, &DepthGaugeView::refreshProgress);
    connect(&m_depth, &DepthStore::selectionChanged, this, &DepthGaugeView::refresh);
    connect(&m_depth, &DepthStore::unlockedChanged, this, &DepthGaugeView::refresh);
    connect(&m_depth, &DepthStore::inviteStateChanged, this, &DepthGaugeView::refresh);
    refresh();
}

QAbstractButton *DepthGaugeView::inviteButton() const
{
    return m_linkRow->isVisibleTo(this) ? static_cast<QAbstractButton *>(m_copyButton) : m_createButton;
}

QLabel *DepthGaugeView::countLine() const
{
    return m_countLine;
}

QLabel *DepthGaugeView::errorLine() const
{
    return m_errorLine;
}

QLabel *DepthGaugeView::disclosureLine() const
{
    return m_disclosure;
}

QAbstractButton *DepthGaugeView::refreshButton() const
{
    return m_refreshButton;
}

void DepthGaugeView::refresh()
{
    const ColorScheme scheme = colorSchemeOf(*this);
    const DepthGaugeContent ladder(m_depth.unlocked());
    std::size_t chip = 0;
    for (std::size_t i = 0; i < ladder.rows.size(); ++i) {
        const DepthGaugeContent::Row &row = ladder.rows[i];
        m_stateLabels[i]->setText(row.stateLabel);
        setTextColor(*m_depthLabels[i],
                     Palette::color(row.isUnlocked ? Palette::textSecondary : Palette::textTertiary, scheme));
        setTextColor(*m_stateLabels[i], Palette::color(Palette::textTertiary, scheme));
        m_rungNames[i]->setColorToken(row.isUnlocked ? Palette::textPrimary : Palette::textTertiary);
        // The ring follows the stored choice, not the colorway worn: a locked choice is ringed, dimmed.
        for (std::size_t c = 0; c < row.colorways.size() && chip < m_chips.size(); ++c, ++chip)
            m_chips[chip]->setState(row.colorways[c] == m_depth.selection(), row.isUnlocked);
    }

    const InviteShareContent invite(m_depth.code(), m_depth.verifiedDownloads());
    const bool inFlight = m_depth.inviteRequestInFlight();
    const bool hasLink = invite.shareURL.has_value();
    m_linkRow->setVisible(hasLink);
    m_countRow->setVisible(hasLink);
    m_disclosure->setVisible(!hasLink);
    m_createButton->setVisible(!hasLink);
    if (hasLink) {
        m_linkLine->setLink(invite.shareURL->toString());
        setTextColor(*m_linkLine, Palette::color(Palette::textSecondary, scheme));
        m_copyButton->setText(m_copied.isShown() ? QStringLiteral("Copied") : invite.actionLabel);
        m_copyButton->setSystemImage(m_copied.isShown() ? QStringLiteral("checkmark") : QStringLiteral("doc.on.doc"));
        m_copyButton->setSuccess(m_copied.isShown());
        m_countLine->setText(invite.verifiedDownloadsText().value_or(QStringLiteral("Progress not checked yet")));
        m_refreshButton->setEnabled(!inFlight);
    } else {
        m_disclosure->setText(invite.disclosure);
        // While a request runs the button shows only the spinner.
        m_createButton->setText(inFlight ? QString() : invite.actionLabel);
        m_createButton->setSystemImage(inFlight ? QString() : QStringLiteral("person.2"));
        m_createButton->setEnabled(!inFlight);
        if (inFlight)
            m_createButton->setMinimumWidth(m_createButton->sizeHint().height() * 2);
        m_spinner->setVisible(inFlight);
        m_spinner->move((m_createButton->width() - m_spinner->width()) / 2,
                        (m_createButton->height() - m_spinner->height()) / 2);
    }
    m_errorLine->setVisible(m_depth.inviteError().has_value());
    m_errorLine->setText(m_depth.inviteError().value_or(QString()));
    updateGeometry();
}

void DepthGaugeView::copyLink(const std::optional<QUrl> &url)
{
    if (!url || !m_pasteboard)
        return;
    m_pasteboard->setString(url->toString());
    m_copied.confirm();
}

void DepthGaugeView::createLink()
{
    QPointer<DepthGaugeView> self(this);
    rt::spawn(m_loop, [](QPointer<DepthGaugeView> view, DepthStore &depth) -> rt::Task<void> {
        const bool created = co_await depth.createInviteLink();
        if (created && view)
            view->copyLink(depth.shareURL());
    }(self, m_depth));
}

void DepthGaugeView::refreshProgress()
{
    rt::spawn(m_loop, m_depth.refreshProgress());
}

void DepthGaugeView::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        refresh();
}

} // namespace zq
