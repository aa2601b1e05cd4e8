#include "window/AppWindowView.h"

#include "menubar/brand/FocusRing.h"
#include "menubar/brand/Palette.h"
#include "menubar/brand/WindowPlacement.h"
#include "menubar/brand/ZepaMenuPicker.h"
#include "records/IncidentStore.h"
#include "rewards/updates/Updater.h"
#include "window/AppSidebar.h"
#include "window/history/HistoryPage.h"
#include "window/recorder/TriggerBindingRecorderView.h"
#include "window/settings/AppSettingsModel.h"
#include "window/settings/AppSettingsView.h"
#include "window/settings/SettingsRows.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace zq {

namespace {

bool isSettingsSection(AppWindowSection section)
{
    return section != AppWindowSection::stats && section != AppWindowSection::history;
}

// A page whose view is not part of this build: its title on the page background.
QWidget *titledPage(AppWindowSection section, QWidget *parent)
{
    auto *page = new QWidget(parent);
    auto *column = new QVBoxLayout(page);
    column->setContentsMargins(25, 13, 25, 57);
    column->addWidget(new StyledLabel(title(section), textStyle::pageTitle, page));
    column->addStretch(1);
    return page;
}

constexpr QSize kMinimumSize(820, 540);
constexpr QSize kIdealSize(960, 680);

} // namespace

AppWindowSizes appWindowSizes(const QSize &available)
{
    const QSize area = available.expandedTo(QSize(1, 1));
    return {kMinimumSize.boundedTo(area), kIdealSize.boundedTo(area)};
}

AppWindowView::AppWindowView(AppWindowModel &model, IncidentStore &incidents, Updater *updater,
                             AppSettingsModel *settingsModel, Pages pages, QWidget *parent)
    : QWidget(parent), m_model(model), m_incidents(incidents), m_updater(updater), m_pages(std::move(pages)),
      m_sidebar(new AppSidebar(this)), m_detail(new QStackedWidget(this))
{
    // The identifier and title are how the window model finds this window.
    setObjectName(QStringLiteral("zepaquarn-main"));
    setWindowTitle(QStringLiteral("ZEPA QUARN"));
    setMinimumSize(kMinimumSize);
    resize(kIdealSize);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(10, 8, 10, 10);
    row->setSpacing(16);
    row->addWidget(m_sidebar);
    row->addWidget(m_detail, 1);

    if (settingsModel) {
        m_settingsView =
            new AppSettingsView(isSettingsSection(model.selection()) ? model.selection() : AppWindowSection::general,
                                *settingsModel, m_pages.settings, m_detail);
        m_detail->addWidget(m_settingsView);
    }

    connect(m_sidebar, &AppSidebar::sectionClicked, this, [this](AppWindowSection section) {
        if (section != m_model.selection())
            m_model.setSelection(section);
    });
    connect(&m_model, &AppWindowModel::selectionChanged, this, &AppWindowView::showSelection);
    connect(&m_incidents, &IncidentStore::itemsChanged, this, &AppWindowView::refreshSidebar);
    if (m_updater)
        connect(m_updater, &Updater::stateChanged, this, &AppWindowView::refreshSidebar);
    showSelection(m_model.selection());
}

QWidget *AppWindowView::currentPage() const
{
    return m_detail->currentWidget();
}

bool AppWindowView::focusTriggerRecorder()
{
    if (!m_settingsView || m_settingsView->section() != AppWindowSection::general || !m_settingsView->page())
        return false;
    auto *recorder = m_settingsView->page()->findChild<TriggerBindingRecorderView *>();
    if (!recorder)
        return false;
    m_settingsView->ensureWidgetVisible(recorder);
    recorder->primaryPicker()->setFocus(Qt::OtherFocusReason);
    // The ring shows where the user was sent, as if the keyboard had moved there.
    setKeyboardMovesFocus(*recorder->primaryPicker(), true);
    return true;
}

void AppWindowView::showSelection(AppWindowSection section)
{
    refreshSidebar();
    if (!isSettingsSection(section)) {
        QWidget *&page = section == AppWindowSection::stats ? m_statsPage : m_historyPage;
        const auto &factory = section == AppWindowSection::stats ? m_pages.stats : m_pages.history;
        if (!page) {
            page = factory ? factory(m_detail) : titledPage(section, m_detail);
            m_detail->addWidget(page);
            applyHistoryQuery();
        }
        m_detail->setCurrentWidget(page);
        m_settingsShown = false;
        return;
    }
    if (!m_settingsView) {
        if (m_placeholder)
            m_placeholder->deleteLater();
        m_placeholder = titledPage(section, m_detail);
        m_detail->addWidget(m_placeholder);
        m_detail->setCurrentWidget(m_placeholder);
        return;
    }
    m_settingsView->setSection(section);
    m_detail->setCurrentWidget(m_settingsView);
    // Moving between settings sections keeps the view; coming from Stats or History shows it anew.
    if (!m_settingsShown && isVisible()) {
        m_settingsShown = true;
        m_settingsView->appeared();
    }
}

void AppWindowView::refreshSidebar()
{
    SidebarInputs inputs;
    inputs.selection = m_model.selection();
    inputs.unreadIssue = m_incidents.hasUnread();
    inputs.updateAvailable = m_updater && m_updater->state().kind == AppUpdateState::Kind::available;
    inputs.version = AppSettingsModel::versionLabel();
    m_sidebar->setInputs(inputs);
}

void AppWindowView::fitScreen()
{
    // A window given back its place stays on its screen; a new one opens where the pointer is.
    const QScreen *screen = m_placeRestored && this->screen() ? this->screen() : screenWithPointer();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    const QSize frame = frameAllowance(*this);
    const AppWindowSizes sizes = appWindowSizes(area.size() - frame);
    setMinimumSize(sizes.minimum);
    resize(size().boundedTo(area.size() - frame).expandedTo(sizes.minimum));
    if (!m_placeRestored) {
        centreOnScreen(*this, *screen);
        return;
    }
    // Keep the whole window on the screen.
    const QRect placed(pos(), size() + frame);
    if (!area.contains(placed))
        move(std::clamp(placed.left(), area.left(), area.right() + 1 - placed.width()),
             std::clamp(placed.top(), area.top(), area.bottom() + 1 - placed.height()));
}

AppWindowKept AppWindowView::kept() const
{
    const auto *history = qobject_cast<const HistoryPage *>(m_historyPage);
    return {saveGeometry(), history ? history->searchField()->text() : m_restoredQuery};
}

void AppWindowView::restore(const AppWindowKept &kept)
{
    if (!kept.geometry.isEmpty())
        m_placeRestored = restoreGeometry(kept.geometry);
    m_restoredQuery = kept.historyQuery;
    applyHistoryQuery();
}

void AppWindowView::applyHistoryQuery()
{
    auto *history = qobject_cast<HistoryPage *>(m_historyPage);
    if (!history || m_restoredQuery.isEmpty())
        return;
    history->searchField()->setText(m_restoredQuery);
    m_restoredQuery.clear();
}

void AppWindowView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_settingsView && isSettingsSection(m_model.selection()) && !m_settingsShown) {
        m_settingsShown = true;
        m_settingsView->appeared();
    }
}

void AppWindowView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    // Reopening the window shows the settings view anew.
    m_settingsShown = false;
}

void AppWindowView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Palette::color(Palette::windowBackground, colorSchemeOf(*this)));
}

} // namespace zq
