#include "window/KeyHelpPopover.h"

#include "menubar/brand/Text.h"
#include "window/AppSettingsModel.h"
#include "window/SettingsPageText.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace zq {

KeyHelpPopover::KeyHelpPopover(QWidget *anchor, AppSettingsModel &model)
    : QFrame(anchor, Qt::Popup), m_anchor(anchor), m_model(model)
{
    setObjectName(QStringLiteral("apiKeyHelp"));
    setFrameShape(QFrame::StyledPanel);
    setFixedWidth(340);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(13, 13, 13, 13);
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
    auto *link = new QPushButton(apiKeyPageTitle(), this);
    link->setObjectName(QStringLiteral("apiKeyPageLink"));
    link->setFlat(true);
    link->setFont(textFont(textStyle::small));
    link->setCursor(Qt::PointingHandCursor);
    connect(link, &QPushButton::clicked, this, [] { QDesktopServices::openUrl(QUrl(apiKeyPageUrl())); });
    column->addWidget(link, 0, Qt::AlignLeft);
}

void KeyHelpPopover::setOpen(bool open)
{
    if (open == isVisible())
        return;
    if (!open) {
        hide();
        return;
    }
    adjustSize();
    move(m_anchor->mapToGlobal(QPoint(m_anchor->width() / 2 - width() / 2, m_anchor->height())));
    show();
}

void KeyHelpPopover::hideEvent(QHideEvent *event)
{
    QFrame::hideEvent(event);
    m_model.setShowKeyHelp(false);
}

} // namespace zq
