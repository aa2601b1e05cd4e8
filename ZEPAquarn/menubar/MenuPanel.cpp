#include "menubar/MenuPanel.h"

#include "menubar/MenuActionRow.h"
#include "menubar/MenuBanners.h"
#include "menubar/MenuCard.h"
#include "menubar/MenuControlRow.h"
#include "menubar/MenuPanelSurface.h"
#include "menubar/MenuWeekRecap.h"
#include "menubar/brand/Typography.h"
#include "menubar/brand/ZepaButton.h"
#include "menubar/brand/ZepaMenuPicker.h"
#include "menubar/brand/ZepaSwitch.h"
#include "rewards/milestones/MilestoneLine.h"
#include "runtime/Log.h"

#include <QApplication>
#include <QCursor>
#include <QEnterEvent>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <algorithm>

namespace zq {

namespace {

QList<ZepaMenuPickerSection> pickerSections(const QList<MenuPanelOption> &options)
{
    ZepaMenuPickerSection section{QStringLiteral("options"), std::nullopt, {}};
    for (const MenuPanelOption &option : options)
        section.options.append({option.value, option.label, option.systemImage});
    return {section};
}

// The Language field is 126 points wide unless its labels need more: "System language" alone takes
// 108 points in the brand face at 12, and 126 leave 69 beside the globe and the chevron. It widens
// to show each label whole, up to what the row leaves beside its title.
int languageFieldWidth(const QList<MenuPanelOption> &options)
{
    constexpr qreal kDesigned = 126;
    constexpr qreal kRoom = 200;
    QStringList labels;
    for (const MenuPanelOption &option : options)
        labels << option.label;
    return int(std::clamp(ZepaMenuPicker::fittingWidth(labels, true), kDesigned, kRoom));
}

// "Included": the cleanup row's text while the OpenAI engine cleans every transcript itself.
class IncludedText : public QWidget {
public:
    explicit IncludedText(QWidget *parent) : QWidget(parent)
    {
        setAccessibleName(QStringLiteral("Included"));
        const QFontMetricsF metrics(textFont(textStyle::small));
        setFixedSize(int(std::ceil(metrics.horizontalAdvance(QStringLiteral("Included")))) + 1,
                     int(std::ceil(metrics.height())));
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setFont(textFont(textStyle::small));
        painter.setPen(Palette::color(Palette::textTertiary, colorSchemeOf(*this)));
        painter.drawText(rect(), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Included"));
    }
};

} // namespace

MenuPanel::RevealLook MenuPanel::revealLook(std::optional<motion::Seconds> elapsed, bool reduceMotion)
{
    const double start = reduceMotion ? 0.0 : -kRevealOffset;
    if (!elapsed)
        return {0.0, start};
    const double progress = kRevealCurve.progress(*elapsed);
    return {progress, start * (1.0 - progress)};
}

MenuPanel::MenuPanel(MenuPanelModel &model, QWidget *parent)
    : QWidget(parent), m_model(model), m_scroll(new QScrollArea(this)), m_content(new QWidget),
      m_opacity(new QGraphicsOpacityEffect(this)),
      // With animations off the panel still fades in; only its slide goes.
      m_revealFrames(
          motion::frame,
          [this](rt::Nanos now) {
              const motion::Seconds elapsed = now - m_revealStart;
              setRevealElapsed(elapsed);
              return elapsed < kRevealCurve.duration;
          },
          Motion::WhenOff::keepRunning)
{
    setObjectName(QStringLiteral("menu-panel"));
    setFixedWidth(kWidth);
    setAutoFillBackground(false);
    makeScrollArea();

    auto *column = new QVBoxLayout(m_content);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(10);
    addHeader(*column);
    addBanners(*column);
    // 5. This week.
    m_recap = new MenuWeekRecap(m_content);
    connect(m_recap, &QAbstractButton::clicked, &m_model, &MenuPanelModel::openRecap);
    column->addWidget(m_recap);
    addLanguageCard(*column);
    addMicrophoneCard(*column);
    addFooter(*column);

    connect(&m_model, &MenuPanelModel::changed, this, &MenuPanel::refresh);
    // The window that holds the panel (the tray popup) closes with it.
    connect(&m_model, &MenuPanelModel::closeRequested, this, [this] { window()->hide(); });
    refresh();
    layoutScroll();
}

MenuPanel::~MenuPanel() = default;

void MenuPanel::makeScrollArea()
{
    m_scroll->setFrameShape(QFrame::NoFrame);
    // Tab goes straight to the controls, not to the scroll area around them.
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_scroll->setWidget(m_content);
    // After setWidget, which turns filling on: the content would cover the panel's surface with
    // the toolkit's window colour.
    m_content->setAutoFillBackground(false);
    m_scroll->setGraphicsEffect(m_opacity);
}

// 1. Header: copy-last and, while the trigger is not running, "Enable Dictation".
void MenuPanel::addHeader(QVBoxLayout &column)
{
    auto *header = new QWidget(m_content);
    m_header = header;
    auto *headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(4, 6, 4, 4);
    headerRow->setSpacing(8);
    headerRow->addStretch(1);
    m_copyLast =
        new ZepaButton(ZepaButtonStyle::quiet, QStringLiteral("Copy Last"), QStringLiteral("doc.on.doc"), header);
    m_enable = new ZepaButton(ZepaButtonStyle::primary, QStringLiteral("Enable Dictation"), QString(), header);
    headerRow->addWidget(m_copyLast, 0, Qt::AlignVCenter);
    headerRow->addWidget(m_enable, 0, Qt::AlignVCenter);
    column.addWidget(header);
    // The label in the system font at 12 with the panel's tracking, not the brand face.
    m_copyLast->setFont(textFont(textStyle::value));
    connect(m_copyLast, &QAbstractButton::clicked, &m_model, &MenuPanelModel::copyLast);
    connect(m_enable, &QAbstractButton::clicked, &m_model, &MenuPanelModel::enableDictation);

    // Under the header, where the button would suggest all is well: no key reaches the trigger.
    m_triggerBanner = new UnseenTriggerMenuBanner(m_content);
    connect(m_triggerBanner, &QAbstractButton::clicked, &m_model, &MenuPanelModel::chooseTrigger);
    column.addWidget(m_triggerBanner);
}

// 2–4. Banners and the milestone line.
void MenuPanel::addBanners(QVBoxLayout &column)
{
    m_updateBanner = new MenuUpdateBanner(m_content);
    connect(m_updateBanner, &QAbstractButton::clicked, &m_model, &MenuPanelModel::update);
    column.addWidget(m_updateBanner);
    m_issueBanner = new RecentIssueMenuBanner(m_content);
    connect(m_issueBanner, &QAbstractButton::clicked, &m_model, &MenuPanelModel::openRecentIssue);
    column.addWidget(m_issueBanner);
    m_milestoneLine = new MilestoneLine(m_content);
    connect(m_milestoneLine, &MilestoneLine::appeared, &m_model, &MenuPanelModel::milestoneShown);
    connect(m_milestoneLine, &MilestoneLine::dismissRequested, &m_model, &MenuPanelModel::dismissMilestones);
    column.addWidget(m_milestoneLine);
}

// 6. Language and AI cleanup.
void MenuPanel::addLanguageCard(QVBoxLayout &column)
{
    m_language = new ZepaMenuPicker(QStringLiteral("Language"),
                                    {[this] { return QVariant(m_model.language()); },
                                     [this](const QVariant &v) { m_model.setLanguage(v.toString()); }},
                                    pickerSections(m_model.languageOptions()), 126, QStringLiteral("globe"), true);
    auto *cleanup = new QWidget;
    auto *cleanupLayout = new QHBoxLayout(cleanup);
    cleanupLayout->setContentsMargins(0, 0, 0, 0);
    m_cleanupSwitch = new ZepaSwitch(ZepaSwitch::Size::mini, cleanup);
    m_cleanupSwitch->setAccessibleName(QStringLiteral("AI cleanup"));
    m_included = new IncludedText(cleanup);
    cleanupLayout->addWidget(m_cleanupSwitch);
    cleanupLayout->addWidget(m_included);
    connect(m_cleanupSwitch, &QAbstractButton::toggled, &m_model, &MenuPanelModel::setCleanupEnabled);
    connect(m_language, &ZepaMenuPicker::menuClosed, this, &MenuPanel::followPointer);
    m_languageNote = new MenuNoteRow(QStringLiteral("lightbulb"));
    m_languageNote->setVisible(false);
    column.addWidget(new MenuCard(
        {new MenuControlRow(QStringLiteral("globe"), QStringLiteral("Language"), m_language), m_languageNote,
         new MenuControlRow(QStringLiteral("wand.and.stars"), QStringLiteral("AI cleanup"), cleanup)},
        m_content));
}

// 7. Microphone.
void MenuPanel::addMicrophoneCard(QVBoxLayout &column)
{
    m_microphone = new ZepaMenuPicker(QStringLiteral("Microphone"),
                                      {[this] { return QVariant(m_model.inputDevice()); },
                                       [this](const QVariant &v) { m_model.setInputDevice(v.toString()); }},
                                      pickerSections(m_model.microphoneOptions()), 142, QStringLiteral("mic"), true);
    connect(m_microphone, &ZepaMenuPicker::menuClosed, this, &MenuPanel::followPointer);
    column.addWidget(new MenuCard(
        {new MenuControlRow(QStringLiteral("mic"), QStringLiteral("Microphone"), m_microphone)}, m_content));
}

// 8. Footer, with Ctrl+Q for its quit row.
void MenuPanel::addFooter(QVBoxLayout &column)
{
    m_openRow = new MenuActionRow(QStringLiteral("macwindow"), QStringLiteral("Open ZEPA QUARN…"),
                                  QStringLiteral("History, settings, and support"), MenuActionRow::Accessory::chevron);
    m_quitRow = new MenuActionRow(QStringLiteral("xmark.circle"), QStringLiteral("Quit ZEPA QUARN"), QString(),
                                  MenuActionRow::Accessory::shortcut, QStringLiteral("Ctrl+Q"));
    connect(m_openRow, &QAbstractButton::clicked, &m_model,
            [this] { m_model.openMainWindow(AppWindowSection::stats); });
    connect(m_quitRow, &QAbstractButton::clicked, &m_model, &MenuPanelModel::quit);
    column.addWidget(new MenuCard({m_openRow, m_quitRow}, m_content));
    auto *quitShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    quitShortcut->setContext(Qt::WindowShortcut);
    connect(quitShortcut, &QShortcut::activated, &m_model, &MenuPanelModel::quit);
}

void MenuPanel::setScreenHeight(std::function<std::optional<double>()> visibleHeight)
{
    m_screenHeight = std::move(visibleHeight);
    applyHeight();
}

void MenuPanel::appear()
{
    m_model.appear();
    if (m_model.showsUnseenTrigger())
        qCInfo(lcApp) << "menu panel: shows that no key starts dictation";
    // Later appearances of the same panel do not animate again.
    if (m_revealElapsed)
        return;
    Motion *motion = Motion::of(*this);
    if (!motion) {
        // Nothing drives the reveal: the panel is there at once.
        setRevealElapsed(kRevealCurve.duration);
        return;
    }
    m_revealStart = motion->now();
    setRevealElapsed(motion::Seconds(0));
    m_revealFrames.start(*motion);
}

void MenuPanel::setRevealElapsed(motion::Seconds elapsed)
{
    m_revealElapsed = elapsed;
    layoutScroll();
}

void MenuPanel::refresh()
{
    const bool copied = m_model.copied();
    m_copyLast->setText(copied ? QStringLiteral("Copied") : QStringLiteral("Copy Last"));
    m_copyLast->setSystemImage(copied ? QStringLiteral("checkmark") : QStringLiteral("doc.on.doc"));
    m_copyLast->setSuccess(copied);
    m_copyLast->setEnabled(m_model.copyLastEnabled());
    m_copyLast->setToolTip(m_model.copyLastTooltip());
    m_enable->setVisible(m_model.showsEnableDictation());
    // The header's layout learns of the button only when its posted request is handled, after the
    // panel has taken its height below: a height that still held the taller button, which the
    // header then filled, its Copy Last a pixel lower. Settled now, the height is measured right.
    m_header->layout()->activate();
    m_triggerBanner->setVisible(m_model.showsUnseenTrigger());

    const std::optional<QString> version = m_model.availableUpdateVersion();
    if (version)
        m_updateBanner->setVersion(*version);
    m_updateBanner->setVisible(version.has_value());
    const std::optional<RecentIssueBannerContent> issue = m_model.recentIssue();
    if (issue)
        m_issueBanner->setContent(*issue);
    m_issueBanner->setVisible(issue.has_value());
    const std::optional<Milestone> milestone = m_model.milestone();
    if (milestone)
        m_milestoneLine->setMilestone(*milestone);
    m_milestoneLine->setVisible(milestone.has_value());

    m_recap->setContent(m_model.weekRecap());

    const QList<MenuPanelOption> languages = m_model.languageOptions();
    m_language->setSections(pickerSections(languages));
    m_language->setFixedWidth(languageFieldWidth(languages));
    const std::optional<LanguageNote> note = m_model.languageNote();
    if (note)
        m_languageNote->setText(note->title, note->detail);
    m_languageNote->setVisible(note.has_value());
    const bool included = m_model.cleanupIncluded();
    m_included->setVisible(included);
    m_cleanupSwitch->setVisible(!included);
    {
        const QSignalBlocker blocker(m_cleanupSwitch);
        m_cleanupSwitch->setChecked(m_model.cleanupEnabled());
    }
    m_microphone->setSections(pickerSections(m_model.microphoneOptions()));
    m_language->update();
    m_microphone->update();
    m_copyLast->updateGeometry();
    applyHeight();
}

double MenuPanel::naturalHeight() const
{
    QLayout *layout = m_content->layout();
    layout->activate();
    return layout->hasHeightForWidth() ? layout->totalHeightForWidth(kWidth) : layout->totalSizeHint().height();
}

double MenuPanel::heightCap() const
{
    std::optional<double> visible;
    if (m_screenHeight) {
        visible = m_screenHeight();
    } else if (QScreen *screen = QGuiApplication::primaryScreen()) {
        visible = screen->availableGeometry().height();
    }
    return MenuPanelModel::heightCap(visible);
}

bool MenuPanel::isScrolling() const
{
    return heightCap() < naturalHeight();
}

void MenuPanel::applyHeight()
{
    const double natural = naturalHeight();
    const double cap = heightCap();
    const bool scrolling = cap < natural;
    m_scroll->setVerticalScrollBarPolicy(scrolling ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    setFixedHeight(int(std::ceil(scrolling ? cap : natural)));
    layoutScroll();
}

void MenuPanel::layoutScroll()
{
    const Motion *motion = Motion::of(*this);
    const RevealLook look = revealLook(m_revealElapsed, motion && motion->animationsOff());
    m_opacity->setOpacity(look.opacity);
    // Once revealed the panel draws directly, not through an offscreen copy.
    m_opacity->setEnabled(look.opacity < 1.0);
    m_scroll->setGeometry(0, int(std::round(look.offset)), width(), height());
}

void MenuPanel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutScroll();
}

void MenuPanel::followPointer()
{
    const QPoint pointer = QCursor::pos();
    QWidget *under = isVisible() ? QApplication::widgetAt(pointer) : nullptr;
    hoverOnly(under && isAncestorOf(under) ? under : nullptr, pointer, true);
}

void MenuPanel::hoverOnly(QWidget *under, QPointF pointer, bool everyWidget)
{
    QList<QPointer<QWidget>> hovered;
    for (QWidget *widget = under; widget && widget != this; widget = widget->parentWidget()) {
        if (widget->testAttribute(Qt::WA_Hover))
            hovered.append(widget);
    }
    QList<QPointer<QWidget>> candidates = m_hovered;
    if (everyWidget) {
        for (QWidget *widget : findChildren<QWidget *>())
            candidates.append(widget);
    }
    for (const QPointer<QWidget> &widget : candidates) {
        if (widget && widget->testAttribute(Qt::WA_Hover) && !hovered.contains(widget)) {
            QEvent leave(QEvent::Leave);
            QCoreApplication::sendEvent(widget, &leave);
        }
    }
    for (const QPointer<QWidget> &widget : hovered) {
        if (everyWidget || !m_hovered.contains(widget)) {
            QEnterEvent enter(widget->mapFromGlobal(pointer), widget->window()->mapFromGlobal(pointer), pointer);
            QCoreApplication::sendEvent(widget, &enter);
        }
    }
    m_hovered = hovered;
}

bool MenuPanel::eventFilter(QObject *watched, QEvent *event)
{
    // Moves that no widget tracks reach only the application's filters: the panel follows them here.
    if (event->type() == QEvent::MouseMove && watched->isWidgetType()) {
        auto *widget = static_cast<QWidget *>(watched);
        if (widget == this || isAncestorOf(widget)) {
            const QPointF pointer = static_cast<QMouseEvent *>(event)->globalPosition();
            hoverOnly(childAt(mapFromGlobal(pointer).toPoint()), pointer, false);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void MenuPanel::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    qApp->installEventFilter(this);
    followPointer();
}

void MenuPanel::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    qApp->removeEventFilter(this);
    followPointer();
}

void MenuPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // Rounded only where the window around the panel can show what lies behind its corners.
    const bool rounded = window() != this && window()->testAttribute(Qt::WA_TranslucentBackground);
    MenuPanelSurface::paint(painter, QRectF(rect()), colorSchemeOf(*this), rounded);
}

} // namespace zq
