#include "window/recorder/TriggerBindingRecorderView.h"

#include "menubar/brand/ControlWell.h"
#include "menubar/brand/FocusRing.h"
#include "menubar/brand/Metrics.h"
#include "menubar/brand/SymbolButton.h"
#include "menubar/brand/SymbolCatalogue.h"
#include "menubar/brand/Text.h"
#include "menubar/brand/Typography.h"
#include "menubar/brand/ZepaMenuPicker.h"
#include "menubar/brand/ZepaPopover.h"
#include "menubar/brand/ZepaSpinner.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <cmath>

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
constexpr int kClearIconSize = 16;
constexpr int kClearButtonSize = 22;
constexpr int kRecordPadding = 10;
constexpr int kRecordSymbolGap = 8;
// The recording popover.
constexpr int kPopupWidth = 330;
constexpr int kCloseIconSize = 14;
constexpr int kCloseButtonSize = 22;
constexpr int kSpinnerSize = 16;

QLabel *label(const QString &text, const TextStyle &style, QWidget *parent)
{
    return plainTextLabel(text, textFont(style), parent);
}

// Each line of `text` that is wider than `width` broken once, where its two halves come out most even,
// so a centred hint never leaves one or two words alone on a line. A line that two halves cannot hold
// is left to the label's own wrapping.
QString balancedLines(const QString &text, const QFontMetricsF &metrics, qreal width)
{
    QStringList lines;
    for (const QString &line : text.split(QLatin1Char('\n'))) {
        if (metrics.horizontalAdvance(line) <= width) {
            lines << line;
            continue;
        }
        const QStringList words = line.split(QLatin1Char(' '));
        qsizetype best = 0;
        qreal bestWidth = width;
        for (qsizetype split = 1; split < words.size(); ++split) {
            const qreal widest = std::max(metrics.horizontalAdvance(words.first(split).join(QLatin1Char(' '))),
                                          metrics.horizontalAdvance(words.sliced(split).join(QLatin1Char(' '))));
            if (widest <= bestWidth) {
                best = split;
                bestWidth = widest;
            }
        }
        if (best == 0)
            lines << line;
        else
            lines << words.first(best).join(QLatin1Char(' ')) << words.sliced(best).join(QLatin1Char(' '));
    }
    return lines.join(QLatin1Char('\n'));
}

// The secondary trigger's button: a bordered field like the picker beside it, with the binding's
// symbol and its name on one line, left-aligned; focused, it shows the brand's ring.
class RecordButton : public QAbstractButton {
public:
    explicit RecordButton(QWidget *parent) : QAbstractButton(parent)
    {
        setAttribute(Qt::WA_Hover);
        setCursor(Qt::ArrowCursor);
    }
    QString symbol;

    QSize sizeHint() const override
    {
        const int text = fontMetrics().horizontalAdvance(this->text());
        return {2 * kRecordPadding + kSymbolSize.width() + kRecordSymbolGap + text, qRound(ZepaMenuPicker::kHeight)};
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const ColorScheme scheme = colorSchemeOf(*this);
        const QRectF area(rect());
        paintControlWell(painter, area, scheme, Metrics::kControlRadius);
        if (underMouse() || isDown()) {
            painter.save();
            painter.setRenderHint(QPainter::Antialiasing);
            QColor wash = Palette::color(isDown() ? Palette::accentWash : Palette::controlHover, scheme);
            painter.setPen(Qt::NoPen);
            painter.setBrush(wash);
            painter.drawRoundedRect(area.adjusted(1, 1, -1, -1), Metrics::kControlRadius - 1,
                                    Metrics::kControlRadius - 1);
            painter.restore();
        }
        const qreal symbolTop = std::round((height() - kSymbolSize.height()) / 2.0);
        SymbolCatalogue::paint(painter, QRectF(QPointF(kRecordPadding, symbolTop), QSizeF(kSymbolSize)), symbol,
                               Palette::color(Palette::textSecondary, scheme));
        const int textLeft = kRecordPadding + kSymbolSize.width() + kRecordSymbolGap;
        painter.setFont(font());
        painter.setPen(Palette::color(Palette::textPrimary, scheme));
        painter.drawText(QRect(textLeft, 0, width() - textLeft - kRecordPadding, height()),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         fontMetrics().elidedText(text(), Qt::ElideRight, width() - textLeft - kRecordPadding));
        if (showsFocusRing(*this))
            paintFocusRing(painter, area, Metrics::kControlRadius, scheme);
    }
};

// A key of the popover's illustration: its name on a cap of the control fill, outlined so the cap
// stands out on the popover's surface in both schemes.
class KeyCap : public QLabel {
public:
    KeyCap(const QString &text, QWidget *parent) : QLabel(text, parent)
    {
        setTextFormat(Qt::PlainText);
        setFont(textFont(textStyle::small));
        setAlignment(Qt::AlignCenter);
        setContentsMargins(8, 4, 8, 4);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const ColorScheme scheme = colorSchemeOf(*this);
        paintControlWell(painter, QRectF(rect()), scheme, Metrics::kControlRadius);
        painter.setFont(font());
        // The primary text colour: at 11 points the tertiary one is under 4.5:1 on the cap, and even
        // the secondary one is, where the glyphs' thin strokes never reach their full colour.
        painter.setPen(Palette::color(Palette::textPrimary, scheme));
        painter.drawText(contentsRect(), Qt::AlignCenter, text());
    }
};

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
    m_record = new RecordButton(this);
    m_record->setObjectName(QStringLiteral("record-secondary"));
    m_record->setFont(textFont(textStyle::body));
    m_record->setMinimumWidth(kRecordMinimumWidth);
    m_record->setMaximumWidth(kRecordMaximumWidth);
    // As high as the primary picker, so the two headings line up over the bottom-aligned controls.
    m_record->setFixedHeight(qRound(ZepaMenuPicker::kHeight));
    buttons->addWidget(m_record);
    m_clear = new SymbolButton(QStringLiteral("xmark"), kClearIconSize, Palette::textTertiary, kClearButtonSize, this);
    m_clear->setObjectName(QStringLiteral("clear-secondary"));
    m_clear->setAccessibleName(QStringLiteral("Remove secondary trigger"));
    m_clear->setToolTip(QStringLiteral("Remove secondary trigger"));
    buttons->addWidget(m_clear);
    secondaryColumn->addLayout(buttons);
    row->addLayout(secondaryColumn);
    row->addStretch(1);
    row->setAlignment(Qt::AlignBottom);

    buildPopup();

    connect(m_record, &QAbstractButton::clicked, this, [this] { m_model->startRecording(); });
    connect(m_clear, &QAbstractButton::clicked, this, [this] { m_model->clearSecondary(); });
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
    m_popup = new ZepaPopover(this);
    m_popup->setObjectName(QStringLiteral("trigger-recording"));
    m_popup->setFixedWidth(kPopupWidth + 2 * PopoverLook::kShadowMargin);
    QVBoxLayout *stack = m_popup->contentLayout();
    stack->setSpacing(Metrics::kSpacing);

    auto *top = new QHBoxLayout;
    top->addStretch(1);
    auto *close =
        new SymbolButton(QStringLiteral("xmark"), kCloseIconSize, Palette::textTertiary, kCloseButtonSize, m_popup);
    close->setObjectName(QStringLiteral("close-recording"));
    close->setAccessibleName(QStringLiteral("Stop recording"));
    close->setFocusPolicy(Qt::NoFocus);
    connect(close, &QAbstractButton::clicked, this, [this] { m_model->cancelRecording(); });
    top->addWidget(close);
    stack->addLayout(top);

    auto *caps = new QHBoxLayout;
    caps->setSpacing(Metrics::kSmallSpacing);
    caps->addStretch(1);
    for (const QString &cap : {QStringLiteral("⇧"), QStringLiteral("Super"), QStringLiteral("Space")})
        caps->addWidget(new KeyCap(cap, m_popup));
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

    QLabel *instructions = label(QString(), textStyle::small, m_popup);
    instructions->setText(
        balancedLines(QStringLiteral("Press a modifier, key, shortcut, macro button, or side mouse button.\n"
                                     "A short key sequence is captured as one macro. Esc cancels."),
                      QFontMetricsF(instructions->font()), kPopupWidth - 2 * ZepaPopover::kPadding));
    m_textColors.emplace_back(instructions, Palette::textSecondary);
    instructions->setAlignment(Qt::AlignHCenter);
    instructions->setWordWrap(true);
    stack->addWidget(instructions);

    m_popup->installEventFilter(this);
}

void TriggerBindingRecorderView::applyColors()
{
    if (!m_popup)
        return; // not built yet
    const ColorScheme scheme = colorSchemeOf(*this);
    for (const auto &[widget, token] : m_textColors)
        setTextColor(*widget, Palette::color(token, scheme));
    m_plus->setPixmap(SymbolCatalogue::pixmap(QStringLiteral("plus"), QSizeF(kPlusSize, kPlusSize),
                                              Palette::color(Palette::textTertiary, scheme), devicePixelRatioF()));
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
    m_record->setText(look.text);
    m_record->updateGeometry();
    static_cast<RecordButton *>(m_record)->symbol = look.symbol;
    m_record->setProperty("symbol", look.symbol);
    m_record->update();
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
    // Above the recorder, its arrow pointing down at it (below it when there is no room above): below
    // it lie the buttons the user needs once a trigger is recorded (Re-check on the Welcome window).
    // The recorder spans the row; the arrow points at its controls.
    const QRect controls = childrenRect();
    m_popup->popUp(QRect(mapToGlobal(controls.topLeft()), controls.size()), PopoverArrowEdge::bottom);
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
