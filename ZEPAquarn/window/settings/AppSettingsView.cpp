#include "window/settings/AppSettingsView.h"

#include "menubar/brand/Palette.h"
#include "menubar/brand/Text.h"
#include "window/settings/AppSettingsModel.h"
#include "window/settings/SettingsPageText.h"

#include <QApplication>
#include <QEvent>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QPainter>
#include <QScrollBar>
#include <QVBoxLayout>

namespace zq {

namespace {

// The page's background, resolved for the scheme it is drawn in.
class PageCanvas : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Palette::color(Palette::background, colorSchemeOf(*this)));
    }
};

// Focus the keyboard moved, or code moved on its behalf, is followed. A press is not: scrolling
// under the pointer would move the control away before the release, and the click would not act.
// Nor is focus given back when the window becomes active again: the page stays where it was left.
bool followsFocus(Qt::FocusReason reason)
{
    switch (reason) {
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::ShortcutFocusReason:
    case Qt::OtherFocusReason:
        return true;
    default:
        return false;
    }
}

} // namespace

AppSettingsView::AppSettingsView(AppWindowSection section, AppSettingsModel &model, SettingsPageHosts hosts,
                                 QWidget *parent)
    : QScrollArea(parent), m_section(section), m_model(model), m_hosts(std::move(hosts)),
      m_title(new StyledLabel(QString(), textStyle::pageTitle)),
      m_subtitle(new StyledLabel(QString(), textStyle::pageSubtitle)), m_column(new QVBoxLayout)
{
    setObjectName(QStringLiteral("settingsView"));
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The page's controls are the Tab stops; the area itself would be a stop that shows nothing. Page
    // keys a control leaves unused still reach it.
    setFocusPolicy(Qt::NoFocus);
    // The area's own Tab handling sees only moves within the page, so focus that arrives from outside
    // it (Tab from the sidebar, a shortcut, a control that hid itself) is scrolled into view here: a
    // control the keyboard acts on is never out of sight. The focus event carries how it came.
    qApp->installEventFilter(this);

    auto *canvas = new PageCanvas;
    canvas->setObjectName(QStringLiteral("settingsCanvas"));
    auto *outer = new QHBoxLayout(canvas);
    outer->setContentsMargins(25, 13, 25, 57);
    outer->setSpacing(0);
    auto *column = new QWidget(canvas);
    column->setObjectName(QStringLiteral("settingsColumn"));
    column->setMaximumWidth(700);
    m_column->setParent(nullptr);
    column->setLayout(m_column);
    m_column->setContentsMargins(0, 0, 0, 0);
    m_column->setSpacing(28);
    auto *header = new QVBoxLayout;
    header->setSpacing(4);
    header->addWidget(m_title);
    header->addWidget(m_subtitle);
    m_column->addLayout(header);
    m_column->addStretch(1);
    outer->addWidget(column, 1);
    outer->addStretch(0);
    setWidget(canvas);
    setSection(section);
    applyTint();
}

void AppSettingsView::setSection(AppWindowSection section)
{
    if (m_page && section == m_section)
        return;
    m_section = section;
    m_title->setText(title(section));
    m_subtitle->setText(pageSubtitle(section));
    m_subtitle->setVisible(!m_subtitle->text().isEmpty());
    // A new page body: its questions start collapsed again.
    if (m_page) {
        m_page->hide();
        m_page->setParent(nullptr);
        m_page->deleteLater();
    }
    m_page = makeSettingsPage(section, m_model, m_hosts, widget());
    m_column->insertWidget(1, m_page);
    verticalScrollBar()->setValue(0);
}

bool AppSettingsView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn && watched->isWidgetType()) {
        auto *now = static_cast<QWidget *>(watched);
        if (followsFocus(static_cast<QFocusEvent *>(event)->reason()) && widget() && widget()->isAncestorOf(now))
            ensureWidgetVisible(now);
    }
    return QScrollArea::eventFilter(watched, event);
}

void AppSettingsView::appeared()
{
    m_model.onAppearRefresh(m_section);
}

void AppSettingsView::changeEvent(QEvent *event)
{
    QScrollArea::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyTint();
}

void AppSettingsView::applyTint()
{
    // Selections inside the pages (the key field, the dictionary) take the brand green.
    const QColor tint = Palette::color(Palette::brandGreen, colorSchemeOf(*this));
    QPalette palette = this->palette();
    if (palette.color(QPalette::Highlight) == tint)
        return;
    palette.setColor(QPalette::Highlight, tint);
    palette.setColor(QPalette::HighlightedText, Palette::color(Palette::onBrand, colorSchemeOf(*this)));
    setPalette(palette);
}

} // namespace zq
