#include "window/onboarding/OnboardingView.h"

#include "menubar/brand/Palette.h"
#include "menubar/brand/SymbolCatalogue.h"
#include "menubar/brand/Text.h"
#include "menubar/brand/Typography.h"
#include "menubar/brand/WindowPlacement.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

namespace zq {

namespace {

// The status mark and the gap after it: the recorder's leading padding is the two together.
constexpr int kStatusIconSize = 16;
constexpr int kRowSpacing = 10;

// The status mark of a step: "checkmark.circle.fill" in the success colour once done, else "circle".
class StatusIcon : public QWidget {
public:
    explicit StatusIcon(QWidget *parent) : QWidget(parent) { setFixedSize(kStatusIconSize, kStatusIconSize); }

    void set(bool done)
    {
        m_done = done;
        setProperty("done", done);
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const ColorScheme scheme = colorSchemeOf(*this);
        SymbolCatalogue::paint(painter, QRectF(rect()),
                               m_done ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("circle"),
                               Palette::color(m_done ? Palette::success : Palette::pending, scheme));
    }

private:
    bool m_done = false;
};

} // namespace

OnboardingView::OnboardingView(OnboardingModel &model, TriggerBindingRecorderView *recorder, QWidget *parent)
    : QWidget(parent), m_model(model), m_recorder(recorder)
{
    setObjectName(QStringLiteral("onboarding"));
    setWindowTitle(QStringLiteral("Welcome"));
    setFixedWidth(480);

    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(28, 28, 28, 28);
    root->setSpacing(16);
    root->setSizeConstraint(QLayout::SetFixedSize);

    const OnboardingContent initial = m_model.content();
    addHeader(*root);
    addPermissionRows(*root, initial);
    addTriggerSection(*root);
    addFooter(*root);

    connect(&m_model, &OnboardingModel::changed, this, [this] { present(m_model.content()); });
    applyColors();
    present(initial);
    // Placed before the window exists, so that the position is its frame's.
    adjustSize();
    if (const QScreen *screen = screenWithPointer())
        centreOnScreen(*this, *screen);
}

void OnboardingView::addHeader(QVBoxLayout &root)
{
    QFont titleFont = textFont(textStyle::figureTitle);
    titleFont.setLetterSpacing(QFont::AbsoluteSpacing, -0.19);
    QLabel *title = plainTextLabel(QStringLiteral("Welcome to ZEPA QUARN"), titleFont, this);
    m_textColors.emplace_back(title, Palette::textPrimary);
    root.addWidget(title);
    QLabel *subtitle = plainTextLabel(
        QStringLiteral("A few quick steps and you can dictate anywhere. Everything runs on your computer."),
        textFont(textStyle::body), this);
    m_textColors.emplace_back(subtitle, Palette::textSecondary);
    subtitle->setWordWrap(true);
    subtitle->setFixedWidth(480 - 2 * 28);
    root.addWidget(subtitle);
}

void OnboardingView::addPermissionRows(QVBoxLayout &root, const OnboardingContent &initial)
{
    for (int i = 0; i < 3; ++i) {
        auto *rowWidget = new QWidget(this);
        auto *row = new QHBoxLayout(rowWidget);
        row->setContentsMargins(0, 0, 0, 0);
        // One spacing for every row, so all titles and the recorder below start on one line.
        row->setSpacing(kRowSpacing);
        m_rows[size_t(i)] = makeRow(rowWidget, initial.rows[size_t(i)].title);
        row->addWidget(m_rows[size_t(i)].icon);
        auto *text = new QVBoxLayout;
        text->setSpacing(2);
        text->addWidget(m_rows[size_t(i)].title);
        text->addWidget(m_rows[size_t(i)].detail);
        row->addLayout(text, 1);
        m_rows[size_t(i)].button = new QPushButton(rowWidget);
        row->addWidget(m_rows[size_t(i)].button);
        root.addWidget(rowWidget);
    }
    connect(m_rows[OnboardingContent::microphone].button, &QPushButton::clicked, this,
            [this] { m_model.requestMicrophone(); });
    connect(m_rows[OnboardingContent::inputMonitoring].button, &QPushButton::clicked, this,
            [this] { m_model.requestInputMonitoring(); });
    connect(m_rows[OnboardingContent::accessibility].button, &QPushButton::clicked, this,
            [this] { m_model.requestAccessibility(); });
}

void OnboardingView::addTriggerSection(QVBoxLayout &root)
{
    auto *triggerSection = new QVBoxLayout;
    triggerSection->setSpacing(10);
    auto *triggerRow = new QHBoxLayout;
    triggerRow->setSpacing(kRowSpacing);
    m_trigger = makeRow(this, QStringLiteral("Trigger"));
    triggerRow->addWidget(m_trigger.icon);
    auto *triggerText = new QVBoxLayout;
    triggerText->setSpacing(2);
    triggerText->addWidget(m_trigger.title);
    triggerText->addWidget(m_trigger.detail);
    triggerRow->addLayout(triggerText, 1);
    triggerSection->addLayout(triggerRow);
    // The line under "Trigger" changes with the binding; room for its longest (two lines) is kept,
    // so the window keeps its height.
    m_trigger.detail->setMinimumHeight(2 * m_trigger.detail->fontMetrics().lineSpacing());
    m_trigger.detail->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_recorder->setParent(this);
    auto *recorderRow = new QHBoxLayout;
    recorderRow->setContentsMargins(kStatusIconSize + kRowSpacing, 0, 0, 0);
    recorderRow->addWidget(m_recorder);
    triggerSection->addLayout(recorderRow);

    m_keyboardSettings = new QPushButton(QStringLiteral("Open Keyboard Settings"), this);
    m_keyboardSettings->setObjectName(QStringLiteral("open-keyboard-settings"));
    QFont small = m_keyboardSettings->font();
    small.setPixelSize(11);
    m_keyboardSettings->setFont(small);
    auto *keyboardRow = new QHBoxLayout;
    keyboardRow->setContentsMargins(kStatusIconSize + kRowSpacing, 0, 0, 0);
    keyboardRow->addWidget(m_keyboardSettings);
    keyboardRow->addStretch(1);
    triggerSection->addLayout(keyboardRow);
    root.addLayout(triggerSection);
    connect(m_keyboardSettings, &QPushButton::clicked, this, [this] { m_model.openKeyboardSettings(); });
}

void OnboardingView::addFooter(QVBoxLayout &root)
{
    auto *footer = new QHBoxLayout;
    m_recheck = new QPushButton(QStringLiteral("Re-check"), this);
    m_recheck->setObjectName(QStringLiteral("onboarding-recheck"));
    m_done = new QPushButton(QStringLiteral("Done"), this);
    m_done->setObjectName(QStringLiteral("onboarding-done"));
    m_done->setDefault(true);
    footer->addWidget(m_recheck);
    footer->addStretch(1);
    footer->addWidget(m_done);
    root.addLayout(footer);
    connect(m_recheck, &QPushButton::clicked, this, [this] { m_model.refreshPermissions(); });
    connect(m_done, &QPushButton::clicked, this, [this] { m_model.finish(); });
    // Return is Done's key; it does nothing while Done is disabled.
    for (const QKeySequence &key : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)}) {
        auto *shortcut = new QShortcut(key, this);
        connect(shortcut, &QShortcut::activated, this, [this] {
            if (m_done->isEnabled())
                m_done->click();
        });
    }
}

OnboardingView::~OnboardingView() = default;

OnboardingView::Row OnboardingView::makeRow(QWidget *parent, const QString &title)
{
    Row row;
    row.icon = new StatusIcon(parent);
    row.title = plainTextLabel(title, textFont(textStyle::rowTitle), parent);
    row.detail = plainTextLabel(QString(), textFont(textStyle::small), parent);
    row.detail->setWordWrap(true);
    m_textColors.emplace_back(row.title, Palette::textPrimary);
    m_textColors.emplace_back(row.detail, Palette::textSecondary);
    return row;
}

void OnboardingView::applyColors()
{
    const ColorScheme scheme = colorSchemeOf(*this);
    for (const auto &[widget, token] : m_textColors)
        setTextColor(*widget, Palette::color(token, scheme));
    // Done is the default button: the brand's style draws it as the primary button, faded while it
    // cannot be pressed.
    update();
}

void OnboardingView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Palette::color(Palette::windowBackground, colorSchemeOf(*this)));
}

void OnboardingView::changeEvent(QEvent *event)
{
    // The appearance changed: the application's palette is now light or dark.
    if (event->type() == QEvent::PaletteChange)
        applyColors();
    QWidget::changeEvent(event);
}

void OnboardingView::present(const OnboardingContent &content)
{
    for (size_t i = 0; i < m_rows.size(); ++i) {
        const PermissionRowContent &row = content.rows[i];
        static_cast<StatusIcon *>(m_rows[i].icon)->set(row.granted);
        m_rows[i].detail->setText(row.detail);
        m_rows[i].button->setText(row.buttonLabel);
        m_rows[i].button->setVisible(!row.buttonLabel.isEmpty());
    }
    static_cast<StatusIcon *>(m_trigger.icon)->set(content.triggerUsable);
    m_trigger.detail->setText(content.triggerDetail);
    m_keyboardSettings->setVisible(content.showsKeyboardSettings);
    m_done->setEnabled(content.doneEnabled);
}

void OnboardingView::showEvent(QShowEvent *event)
{
    m_model.setShown(true);
    QWidget::showEvent(event);
}

void OnboardingView::hideEvent(QHideEvent *event)
{
    m_model.setShown(false);
    QWidget::hideEvent(event);
}

} // namespace zq
