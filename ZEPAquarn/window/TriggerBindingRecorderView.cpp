#include "window/TriggerBindingRecorderView.h"

#include "menubar/brand/Metrics.h"
#include "menubar/brand/SymbolCatalogue.h"
#include "menubar/brand/Text.h"
#include "menubar/brand/Typography.h"
#include "menubar/brand/ZepaMenuPicker.h"
#include "menubar/brand/ZepaSpinner.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

namespace zq {

namespace {

constexpr QSize kSymbolSize(14, 14);
// The two columns: the primary picker, the plus between them (its glyph sits this far above the
// controls' bottom edge), and the secondary trigger's button with its clear button.
constexpr int kColumnSpacing = 10;
constexpr int kHeadingSpacing = 4;
constexpr int kPrimaryPickerWidth = 180;
constexpr double kPlusSize = 11;
constexpr int kPlusLift = 8;
constexpr int kRecordMinimumWidth = 150;
constexpr int kRecordMaximumWidth = 230;
// The record button's padding and the gap after its symbol, which its text never covers.
constexpr int kRecordTextMargins = 24;
constexpr int kClearIconSize = 16;
constexpr int kClearButtonSize = 22;
// The recording popup, and how far it stands off the recorder.
constexpr int kPopupWidth = 330;
constexpr int kPopupGap = 4;
constexpr int kCloseIconSize = 14;
constexpr int kSpinnerSize = 16;

QLabel *label(const QString &text, const TextStyle &style, QWidget *parent)
{
    return plainTextLabel(text, textFont(style), parent);
}

} // namespace

TriggerBindingRecorderView::TriggerBindingRecorderView(
    TriggerBindingRecorderModel &model, std::function<std::optional<platform::KeyboardMap>()> keyboardMap,
    QWidget *parent)
    : QWidget(parent), m_keyboardMap(std::move(keyboardMap)), m_model(&model)
{
    setObjectName(QStringLiteral("trigger-recorder"));
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(kColumnSpacing);

    auto *primaryColumn = new QVBoxLayout;
    primaryColumn->setSpacing(kHeadingSpacing);
    QLabel *primaryHeading = label(QStringLiteral("PRIMARY"), textStyle::small, this);
    m_textColors.emplace_back(primaryHeading, Palette::textTertiary);
    primaryColumn->addWidget(primaryHeading);
    QList<ZepaMenuPickerSection> sections;
    for (const TriggerPickerSection &section : primaryTriggerSections()) {
        ZepaMenuPickerSection pickerSection{section.id, section.title, {}};
        for (const TriggerPickerOption &option : section.options)
            pickerSection.options.append({option.value, option.label, option.symbol});
        sections.append(pickerSection);
    }
    m_picker = new ZepaMenuPicker(QStringLiteral("Primary trigger"),
                                  {[this] { return QVariant(m_model->primaryValue()); },
                                   [this](const QVariant &value) { m_model->selectPrimary(value.toString()); }},
                                  sections, kPrimaryPickerWidth, QStringLiteral("keyboard"), false, this);
    m_picker->setObjectName(QStringLiteral("primary-trigger"));
    primaryColumn->addWidget(m_picker);
    row->addLayout(primaryColumn);

    m_plus = new QLabel(this);
    m_plus->setFixedSize(int(kPlusSize), int(kPlusSize) + kPlusLift);
    m_plus->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    row->addWidget(m_plus, 0, Qt::AlignBottom);

    auto *secondaryColumn = new QVBoxLayout;
    secondaryColumn->setSpacing(kHeadingSpacing);
    QLabel *secondaryHeading = label(QStringLiteral("SECONDARY"), textStyle::small, this);
    m_textColors.emplace_back(secondaryHeading, Palette::textTertiary);
    secondaryColumn->addWidget(secondaryHeading);
    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(kHeadingSpacing);
    m_record = new QPushButton(this);
    m_record->setObjectName(QStringLiteral("record-secondary"));
    m_record->setMinimumWidth(kRecordMinimumWidth);
    m_record->setMaximumWidth(kRecordMaximumWidth);
    // As high as the primary picker, so the two headings line up over the bottom-aligned controls.
    m_record->setFixedHeight(qRound(ZepaMenuPicker::kHeight));
    m_record->setIconSize(kSymbolSize);
    buttons->addWidget(m_record);
    m_clear = new QToolButton(this);
    m_clear->setObjectName(QStringLiteral("clear-secondary"));
    m_clear->setAutoRaise(true);
    m_clear->setIconSize(QSize(kClearIconSize, kClearIconSize));
    m_clear->setFixedSize(kClearButtonSize, kClearButtonSize);
    m_clear->setToolTip(QStringLiteral("Remove secondary trigger"));
    buttons->addWidget(m_clear);
    secondaryColumn->addLayout(buttons);
    row->addLayout(secondaryColumn);
    row->addStretch(1);
    row->setAlignment(Qt::AlignBottom);

    buildPopup();

    connect(m_record, &QPushButton::clicked, this, [this] { m_model->startRecording(); });
    connect(m_clear, &QToolButton::clicked, this, [this] { m_model->clearSecondary(); });
    m_model->onRecordingChanged = [this](bool recording) { showPopup(recording); };
    m_model->onValuesChanged = [this] { refresh(); };
    applyColors();
}

TriggerBindingRecorderView *makeSettingsTriggerRecorder(const TriggerRecorderServices &services, rt::Settings &settings,
                                                        QWidget *parent)
{
    auto *model = TriggerBindingRecorderModel::forSettings(services.loop, settings, services.gate);
    auto *recorder = new TriggerBindingRecorderView(*model, services.keyboardMap, parent);
    model->setParent(recorder);
    return recorder;
}

TriggerBindingRecorderView::~TriggerBindingRecorderView()
{
    m_model->onRecordingChanged = nullptr;
    m_model->onValuesChanged = nullptr;
    m_model->cancelRecording();
    if (m_filtering)
        qApp->removeEventFilter(this);
}

void TriggerBindingRecorderView::buildPopup()
{
    m_popup = new QFrame(this, Qt::Popup);
    m_popup->setObjectName(QStringLiteral("trigger-recording"));
    m_popup->setFrameShape(QFrame::StyledPanel);
    m_popup->setFixedWidth(kPopupWidth);
    auto *stack = new QVBoxLayout(m_popup);
    stack->setContentsMargins(Metrics::kSpacing, Metrics::kSpacing, Metrics::kSpacing, Metrics::kSpacing);
    stack->setSpacing(Metrics::kSpacing);

    auto *top = new QHBoxLayout;
    top->addStretch(1);
    auto *close = new QToolButton(m_popup);
    close->setObjectName(QStringLiteral("close-recording"));
    close->setAutoRaise(true);
    close->setFocusPolicy(Qt::NoFocus);
    m_close = close;
    connect(close, &QToolButton::clicked, this, [this] { m_model->cancelRecording(); });
    top->addWidget(close);
    stack->addLayout(top);

    auto *caps = new QHBoxLayout;
    caps->setSpacing(Metrics::kSmallSpacing);
    caps->addStretch(1);
    for (const QString &cap : {QStringLiteral("⇧"), QStringLiteral("Super"), QStringLiteral("Space")}) {
        QLabel *capLabel = label(cap, textStyle::small, m_popup);
        m_caps.push_back(capLabel);
        caps->addWidget(capLabel);
    }
    caps->addStretch(1);
    stack->addLayout(caps);

    auto *status = new QHBoxLayout;
    status->setSpacing(Metrics::kSmallSpacing);
    status->addStretch(1);
    m_spinner = new ZepaSpinner(kSpinnerSize, m_popup);
    status->addWidget(m_spinner);
    QLabel *recording = label(QStringLiteral("Recording…"), textStyle::rowTitle, m_popup);
    m_textColors.emplace_back(recording, Palette::textPrimary);
    status->addWidget(recording);
    status->addStretch(1);
    stack->addLayout(status);

    QLabel *instructions = label(QStringLiteral("Press a modifier, key, shortcut, macro button, or side mouse button.\n"
                                                "A short key sequence is captured as one macro. Esc cancels."),
                                 textStyle::small, m_popup);
    m_textColors.emplace_back(instructions, Palette::textSecondary);
    instructions->setAlignment(Qt::AlignHCenter);
    instructions->setWordWrap(true);
    stack->addWidget(instructions);

    m_popup->installEventFilter(this);
}

void TriggerBindingRecorderView::applyColors()
{
    if (!m_close)
        return; // not built yet
    const ColorScheme scheme = colorSchemeOf(*this);
    for (const auto &[widget, token] : m_textColors)
        setTextColor(*widget, Palette::color(token, scheme));
    const QColor tertiary = Palette::color(Palette::textTertiary, scheme);
    m_plus->setPixmap(
        SymbolCatalogue::pixmap(QStringLiteral("plus"), QSizeF(kPlusSize, kPlusSize), tertiary, devicePixelRatioF()));
    m_clear->setIcon(SymbolCatalogue::pixmap(QStringLiteral("xmark"), QSizeF(kClearIconSize, kClearIconSize), tertiary,
                                             devicePixelRatioF()));
    m_close->setIcon(SymbolCatalogue::pixmap(QStringLiteral("xmark"), QSizeF(kCloseIconSize, kCloseIconSize), tertiary,
                                             devicePixelRatioF()));
    const QString capStyle =
        QStringLiteral("QLabel { background: %1; color: %2; border-radius: %3px; padding: 4px 8px; }")
            .arg(Palette::color(Palette::controlFill, scheme).name(QColor::HexArgb), tertiary.name(QColor::HexArgb))
            .arg(Metrics::kControlRadius);
    for (QLabel *cap : m_caps)
        cap->setStyleSheet(capStyle);
    // A bordered button in the palette of the appearance: a style sheet of text alignment alone
    // would draw it light in a dark window.
    m_record->setStyleSheet(QStringLiteral("QPushButton { text-align: left; padding: 0 10px; color: %1; background: %2;"
                                           " border: 1px solid %3; border-radius: %5px; }"
                                           " QPushButton:pressed { background: %4; }")
                                .arg(Palette::color(Palette::textPrimary, scheme).name(QColor::HexArgb),
                                     Palette::color(Palette::controlFill, scheme).name(QColor::HexArgb),
                                     Palette::color(Palette::hairline, scheme).name(QColor::HexArgb),
                                     Palette::color(Palette::accentWash, scheme).name(QColor::HexArgb))
                                .arg(Metrics::kControlRadius));
    refresh();
}

void TriggerBindingRecorderView::changeEvent(QEvent *event)
{
    // The appearance changed: the application's palette is now light or dark.
    if (event->type() == QEvent::PaletteChange)
        applyColors();
    QWidget::changeEvent(event);
}

void TriggerBindingRecorderView::refresh()
{
    m_picker->update();
    const SecondaryTriggerLook look = secondaryTriggerLook(m_model->secondaryValue());
    // One line, however long the name: the button grows to its widest and elides the rest.
    m_record->setText(m_record->fontMetrics().elidedText(
        look.text, Qt::ElideRight, kRecordMaximumWidth - kRecordTextMargins - kSymbolSize.width()));
    m_record->setIcon(SymbolCatalogue::pixmap(
        look.symbol, kSymbolSize, Palette::color(Palette::textSecondary, colorSchemeOf(*this)), devicePixelRatioF()));
    m_record->setProperty("symbol", look.symbol);
    m_record->setToolTip(look.tooltip);
    m_clear->setVisible(look.showsClear);
}

void TriggerBindingRecorderView::showPopup(bool recording)
{
    if (!recording) {
        if (m_filtering) {
            qApp->removeEventFilter(this);
            m_filtering = false;
        }
        if (m_popup->isVisible())
            m_popup->hide();
        refresh();
        return;
    }
    m_translator.setKeyboardMap(m_keyboardMap ? m_keyboardMap() : std::nullopt);
    m_translator.reset();
    if (!m_filtering) {
        qApp->installEventFilter(this);
        m_filtering = true;
    }
    // Above the recorder, pointing down at it; below it when there is no room above.
    m_popup->adjustSize();
    const QRect anchor(mapToGlobal(QPoint(0, 0)), size());
    QPoint at(anchor.center().x() - m_popup->width() / 2, anchor.top() - m_popup->height() - kPopupGap);
    if (const QScreen *screen = this->screen(); screen && at.y() < screen->availableGeometry().top())
        at.setY(anchor.bottom() + kPopupGap);
    m_popup->move(at);
    m_popup->show();
    m_popup->activateWindow();
    m_popup->setFocus(Qt::PopupFocusReason);
}

bool TriggerBindingRecorderView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_popup && event->type() == QEvent::Hide) {
        // The popup closed some other way (a click outside it): recording ends without a capture.
        if (m_model->isRecording())
            m_model->cancelRecording();
        return false;
    }
    // Every input event passes its window first, once, before any widget sees it.
    if (!m_filtering || !watched->isWindowType() || !m_model->isRecording())
        return false;
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
        break;
    default:
        return false;
    }
    const std::optional<TriggerEvent> translated = m_translator.translate(*event);
    if (!translated)
        return false;
    return m_model->handle(*translated);
}

void TriggerBindingRecorderView::hideEvent(QHideEvent *event)
{
    m_model->cancelRecording();
    QWidget::hideEvent(event);
}

} // namespace zq
