#include "window/settings/KeyHelpPopover.h"

#include "menubar/brand/FocusRing.h"
#include "menubar/brand/Metrics.h"
#include "menubar/brand/Text.h"
#include "window/settings/AppSettingsModel.h"
#include "window/settings/SettingsPageText.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QPainter>
#include <QUrl>
#include <QVBoxLayout>

namespace zq {

namespace {

// A link: its title in the tint colour (the accent, which is the brand green in light and its mint
// in dark, where the green itself would be unreadable), underlined under the pointer.
class LinkButton : public QAbstractButton {
public:
    LinkButton(const QString &text, QWidget *parent) : QAbstractButton(parent)
    {
        setText(text);
        setAccessibleName(text);
        setAttribute(Qt::WA_Hover);
        setCursor(Qt::PointingHandCursor);
    }
    QSize sizeHint() const override
    {
        return {fontMetrics().horizontalAdvance(text()) + 8, fontMetrics().height() + 6};
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const ColorScheme scheme = colorSchemeOf(*this);
        QFont font = this->font();
        font.setUnderline(underMouse());
        painter.setFont(font);
        painter.setPen(Palette::color(Palette::accent, scheme));
        painter.drawText(rect().adjusted(4, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter, text());
        if (showsFocusRing(*this))
            paintFocusRing(painter, QRectF(rect()), 4, scheme);
    }
};

} // namespace

KeyHelpPopover::KeyHelpPopover(QWidget *anchor, AppSettingsModel &model)
    : ZepaPopover(anchor), m_anchor(anchor), m_model(model)
{
    setObjectName(QStringLiteral("apiKeyHelp"));
    setFixedWidth(340 + 2 * PopoverLook::kShadowMargin);
    QVBoxLayout *column = contentLayout();
    column->setSpacing(10);
    column->addWidget(new StyledLabel(QStringLiteral("Getting an OpenAI API key"), textStyle::rowTitle, this));
    auto *steps = new QVBoxLayout;
    steps->setSpacing(8);
    int number = 1;
    for (const QString &step : apiKeyHelpSteps()) {
        auto *line = new QHBoxLayout;
        line->setSpacing(8);
        line->addWidget(new StyledLabel(QStringLiteral("%1.").arg(number++),
                                        textStyle::small.withColor(Palette::textSecondary), this),
                        0, Qt::AlignTop);
        auto *text = new StyledLabel(step, textStyle::small, this);
        text->setWordWrap(true);
        line->addWidget(text, 1);
        steps->addLayout(line);
    }
    column->addLayout(steps);
    auto *link = new LinkButton(apiKeyPageTitle(), this);
    link->setObjectName(QStringLiteral("apiKeyPageLink"));
    link->setFont(textFont(textStyle::small));
    connect(link, &QAbstractButton::clicked, this, [] { QDesktopServices::openUrl(QUrl(apiKeyPageUrl())); });
    // The link's text lines up with the steps above it.
    column->addWidget(link, 0, Qt::AlignLeft);
    link->setContentsMargins(0, 0, 0, 0);
}

void KeyHelpPopover::setOpen(bool open)
{
    if (open == isVisible())
        return;
    if (!open) {
        hide();
        return;
    }
    // Above the button: below it lie the "Test API key" row and its Run Test, the next thing the user needs.
    popUp(QRect(m_anchor->mapToGlobal(QPoint(0, 0)), m_anchor->size()), PopoverArrowEdge::bottom);
}

void KeyHelpPopover::hideEvent(QHideEvent *event)
{
    ZepaPopover::hideEvent(event);
    m_model.setShowKeyHelp(false);
}

} // namespace zq
