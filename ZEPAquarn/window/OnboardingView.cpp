#include "window/OnboardingView.h"

#include "pipeline/SettingsDefaults.h"
#include "runtime/Settings.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace zq {

namespace {

// The window's colours, dark and light.
struct Colors {
    QColor background, textPrimary, textSecondary, success, inactive;
};

Colors colorsFor(const QPalette &palette)
{
    if (palette.color(QPalette::Window).lightness() < 128)
        return {QColor(0x14, 0x14, 0x17), QColor(0xF6, 0xF5, 0xFD), QColor(0xA0, 0xA0, 0xA8), QColor(0xA4, 0xDC, 0xB5),
                QColor(0x6C, 0x6C, 0x74)};
    return {QColor(0xFF, 0xFF, 0xFF), QColor(0x14, 0x14, 0x17), QColor(0x57, 0x57, 0x57), QColor(0x05, 0x51, 0x47),
            QColor(0xB4, 0xB4, 0xBA)};
}

QFont textFont(int pixelSize, QFont::Weight weight, qreal tracking)
{
    QFont font;
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    font.setLetterSpacing(QFont::AbsoluteSpacing, tracking);
    return font;
}

QLabel *textLabel(const QString &text, const QFont &font, const QColor &color, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

class StatusIcon : public QWidget {
public:
    explicit StatusIcon(QWidget *parent) : QWidget(parent) { setFixedSize(18, 18); }

    void set(bool done, const QColor &color)
    {
        m_done = done;
        m_color = color;
        setProperty("done", done);
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        paintStatusIcon(painter, QRectF(rect()), m_done, m_color, palette().color(QPalette::Window));
    }

private:
    bool m_done = false;
    QColor m_color;
};

} // namespace

void paintStatusIcon(QPainter &painter, const QRectF &rect, bool done, const QColor &color, const QColor &background)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(rect.width(), rect.height()) - 2;
    const QRectF circle(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side);
    if (done) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(circle);
        QPainterPath check;
        check.moveTo(circle.left() + side * 0.28, circle.top() + side * 0.52);
        check.lineTo(circle.left() + side * 0.44, circle.top() + side * 0.68);
        check.lineTo(circle.left() + side * 0.74, circle.top() + side * 0.34);
        painter.setPen(QPen(background, side * 0.12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(check);
    } else {
        painter.setPen(QPen(color, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(circle.adjusted(0.75, 0.75, -0.75, -0.75));
    }
    painter.restore();
}

OnboardingView::OnboardingView(rt::Settings &settings, platform::PermissionProbe &probe,
                               const TriggerRecorderServices &recorder, std::function<void()> onDone, QWidget *parent)
    : QWidget(parent), m_model(std::make_unique<OnboardingModel>(settings, probe, recorder.loop, std::move(onDone)))
{
    setObjectName(QStringLiteral("onboarding"));
    setWindowTitle(QStringLiteral("Welcome"));
    setFixedWidth(480);
    setAutoFillBackground(true);
    const Colors colors = colorsFor(palette());
    QPalette windowPalette = palette();
    windowPalette.setColor(QPalette::Window, colors.background);
    setPalette(windowPalette);

    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(28, 28, 28, 28);
    root->setSpacing(16);
    root->setSizeConstraint(QLayout::SetFixedSize);

    QFont titleFont(QStringLiteral("Chivo Mono"));
    if (!QFontDatabase::families().contains(QStringLiteral("Chivo Mono")))
        titleFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    titleFont.setPixelSize(19);
    titleFont.setWeight(QFont::Medium);
    titleFont.setLetterSpacing(QFont::AbsoluteSpacing, -0.19);
    root->addWidget(textLabel(QStringLiteral("Welcome to ZEPA QUARN"), titleFont, colors.textPrimary, this));
    QLabel *subtitle =
        textLabel(QStringLiteral("A few quick steps and you can dictate anywhere. Everything runs on your computer."),
                  textFont(13, QFont::Normal, -0.065), colors.textSecondary, this);
    subtitle->setWordWrap(true);
    subtitle->setFixedWidth(480 - 2 * 28);
    root->addWidget(subtitle);

    const OnboardingContent initial = m_model->content();
    for (int i = 0; i < 3; ++i) {
        auto *rowWidget = new QWidget(this);
        auto *row = new QHBoxLayout(rowWidget);
        row->setContentsMargins(0, 0, 0, 0);
        m_rows[size_t(i)] = makeRow(rowWidget, initial.rows[size_t(i)].title);
        row->addWidget(m_rows[size_t(i)].icon);
        auto *text = new QVBoxLayout;
        text->setSpacing(2);
        text->addWidget(m_rows[size_t(i)].title);
        text->addWidget(m_rows[size_t(i)].detail);
        row->addLayout(text, 1);
        m_rows[size_t(i)].button = new QPushButton(rowWidget);
        row->addWidget(m_rows[size_t(i)].button);
        root->addWidget(rowWidget);
    }
    connect(m_rows[OnboardingContent::microphone].button, &QPushButton::clicked, this,
            [this] { m_model->requestMicrophone(); });
    connect(m_rows[OnboardingContent::inputMonitoring].button, &QPushButton::clicked, this,
            [this] { m_model->requestInputMonitoring(); });
    connect(m_rows[OnboardingContent::accessibility].button, &QPushButton::clicked, this,
            [this] { m_model->requestAccessibility(); });

    auto *triggerSection = new QVBoxLayout;
    triggerSection->setSpacing(10);
    auto *triggerRow = new QHBoxLayout;
    m_trigger = makeRow(this, QStringLiteral("Trigger"));
    triggerRow->addWidget(m_trigger.icon);
    auto *triggerText = new QVBoxLayout;
    triggerText->setSpacing(2);
    triggerText->addWidget(m_trigger.title);
    triggerText->addWidget(m_trigger.detail);
    triggerRow->addLayout(triggerText, 1);
    triggerSection->addLayout(triggerRow);

    m_recorder = new TriggerBindingRecorderView(
        recorder, settingBinding(settings, QString::fromLatin1(keys::triggerKey), QStringLiteral("fn")),
        settingBinding(settings, QString::fromLatin1(keys::secondaryTriggerKey)), this);
    auto *recorderRow = new QHBoxLayout;
    recorderRow->setContentsMargins(26, 0, 0, 0);
    recorderRow->addWidget(m_recorder);
    triggerSection->addLayout(recorderRow);

    m_keyboardSettings = new QPushButton(QStringLiteral("Open Keyboard Settings"), this);
    m_keyboardSettings->setObjectName(QStringLiteral("open-keyboard-settings"));
    QFont small = m_keyboardSettings->font();
    small.setPixelSize(11);
    m_keyboardSettings->setFont(small);
    auto *keyboardRow = new QHBoxLayout;
    keyboardRow->setContentsMargins(26, 0, 0, 0);
    keyboardRow->addWidget(m_keyboardSettings);
    keyboardRow->addStretch(1);
    triggerSection->addLayout(keyboardRow);
    root->addLayout(triggerSection);
    connect(m_keyboardSettings, &QPushButton::clicked, this, [this] { m_model->openKeyboardSettings(); });

    auto *footer = new QHBoxLayout;
    m_recheck = new QPushButton(QStringLiteral("Re-check"), this);
    m_recheck->setObjectName(QStringLiteral("onboarding-recheck"));
    m_done = new QPushButton(QStringLiteral("Done"), this);
    m_done->setObjectName(QStringLiteral("onboarding-done"));
    m_done->setDefault(true);
    // The prominent style while it can be pressed; disabled it looks like any disabled button.
    QPalette prominent = m_done->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        prominent.setColor(group, QPalette::Button, QColor(0x05, 0x51, 0x47));
        prominent.setColor(group, QPalette::ButtonText, Qt::white);
    }
    m_done->setPalette(prominent);
    footer->addWidget(m_recheck);
    footer->addStretch(1);
    footer->addWidget(m_done);
    root->addLayout(footer);
    connect(m_recheck, &QPushButton::clicked, this, [this] { m_model->refreshPermissions(); });
    connect(m_done, &QPushButton::clicked, this, [this] { m_model->finish(); });
    // Return is Done's key; it does nothing while Done is disabled.
    for (const QKeySequence &key : {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)}) {
        auto *shortcut = new QShortcut(key, this);
        connect(shortcut, &QShortcut::activated, this, [this] {
            if (m_done->isEnabled())
                m_done->click();
        });
    }

    connect(m_model.get(), &OnboardingModel::changed, this, [this] { present(m_model->content()); });
    connect(&settings, &rt::Settings::changed, this, [this](const QString &key) {
        if (key == QLatin1String(keys::triggerKey) || key == QLatin1String(keys::secondaryTriggerKey))
            m_recorder->refresh();
    });
    present(initial);
}

OnboardingView::~OnboardingView() = default;

OnboardingView::Row OnboardingView::makeRow(QWidget *parent, const QString &title)
{
    const Colors colors = colorsFor(palette());
    Row row;
    row.icon = new StatusIcon(parent);
    row.title = textLabel(title, textFont(13, QFont::Medium, -0.065), colors.textPrimary, parent);
    row.detail = textLabel(QString(), textFont(11, QFont::Normal, -0.055), colors.textSecondary, parent);
    row.detail->setWordWrap(true);
    return row;
}

void OnboardingView::present(const OnboardingContent &content)
{
    const Colors colors = colorsFor(palette());
    for (size_t i = 0; i < m_rows.size(); ++i) {
        const PermissionRowContent &row = content.rows[i];
        static_cast<StatusIcon *>(m_rows[i].icon)->set(row.granted, row.granted ? colors.success : colors.inactive);
        m_rows[i].detail->setText(row.detail);
        m_rows[i].button->setText(row.buttonLabel);
        m_rows[i].button->setVisible(!row.buttonLabel.isEmpty());
    }
    static_cast<StatusIcon *>(m_trigger.icon)
        ->set(content.triggerUsable, content.triggerUsable ? colors.success : colors.inactive);
    m_trigger.detail->setText(content.triggerDetail);
    m_keyboardSettings->setVisible(content.showsKeyboardSettings);
    m_done->setEnabled(content.doneEnabled);
}

void OnboardingView::showEvent(QShowEvent *event)
{
    m_model->setShown(true);
    QWidget::showEvent(event);
}

void OnboardingView::hideEvent(QHideEvent *event)
{
    m_model->setShown(false);
    QWidget::hideEvent(event);
}

} // namespace zq
