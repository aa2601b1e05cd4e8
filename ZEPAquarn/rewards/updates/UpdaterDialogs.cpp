#include "rewards/updates/UpdaterDialogs.h"

#include "menubar/brand/Palette.h"
#include "menubar/brand/Typography.h"
#include "menubar/brand/WindowPlacement.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace zq {

namespace {

constexpr int kWidth = 420;

// A brand dialog: the window's own page colour and text colours, whatever palette the desktop gives,
// and a frame with a close button but nothing to minimise or maximise. Closing the window from its
// frame or with Escape goes through the dialogs' own rule.
class UpdateWindow final : public QDialog {
public:
    std::function<void()> onClose;
    // Re-colours the stock pieces for the current scheme; run again on every palette change.
    std::function<void()> restyle;

    UpdateWindow()
    {
        setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    }

protected:
    void closeEvent(QCloseEvent *event) override
    {
        if (onClose)
            onClose();
        QDialog::closeEvent(event);
    }
    void reject() override { close(); }
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Palette::color(Palette::windowBackground, colorSchemeOf(*this)));
    }
    void changeEvent(QEvent *event) override
    {
        QDialog::changeEvent(event);
        if (event->type() == QEvent::PaletteChange && restyle && !m_restyling) {
            m_restyling = true;
            restyle();
            m_restyling = false;
        }
    }

private:
    bool m_restyling = false;
};

void setColors(QWidget &widget, std::initializer_list<std::pair<QPalette::ColorRole, QColor>> colors)
{
    QPalette palette = widget.palette();
    for (const auto &[role, color] : colors) {
        palette.setColor(QPalette::Active, role, color);
        palette.setColor(QPalette::Inactive, role, color);
    }
    widget.setPalette(palette);
}

QLabel *plainLabel(QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

UpdaterDialogs::UpdaterDialogs(QString runningVersion, QObject *parent)
    : QObject(parent), m_runningVersion(std::move(runningVersion))
{
    auto window = std::make_unique<UpdateWindow>();
    window->setObjectName(QStringLiteral("updates"));
    window->setWindowTitle(QStringLiteral("Software Update"));
    window->onClose = [this] { closedByUser(); };

    m_title = plainLabel(window.get());
    m_title->setFont(textFont(textStyle::sectionTitle));
    m_message = plainLabel(window.get());
    m_message->setFont(textFont(textStyle::body));
    m_notes = new QPlainTextEdit(window.get());
    m_notes->setReadOnly(true);
    m_notes->setMinimumHeight(140);
    m_progress = new QProgressBar(window.get());
    m_progress->setTextVisible(false);

    m_skip = new QPushButton(QStringLiteral("Skip This Version"), window.get());
    m_later = new QPushButton(QStringLiteral("Remind Me Later"), window.get());
    m_install = new QPushButton(QStringLiteral("Install"), window.get());
    m_cancel = new QPushButton(QStringLiteral("Cancel"), window.get());
    m_ok = new QPushButton(QStringLiteral("OK"), window.get());

    // Enter answers with the step's main button, never with whichever button holds the focus
    // (the first in the row is Skip This Version).
    for (QPushButton *button : {m_skip, m_later, m_install, m_cancel, m_ok})
        button->setAutoDefault(false);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_skip);
    buttons->addStretch(1);
    for (QPushButton *button : {m_later, m_install, m_cancel, m_ok})
        buttons->addWidget(button);
    auto *layout = new QVBoxLayout(window.get());
    layout->setContentsMargins(20, 18, 20, 16);
    layout->setSpacing(10);
    layout->addWidget(m_title);
    layout->addWidget(m_message);
    layout->addWidget(m_notes);
    layout->addWidget(m_progress);
    layout->addLayout(buttons);

    const auto answer = [this](platform::UpdateChoice choice) {
        m_onClose = nullptr;
        if (auto reply = std::exchange(m_reply, nullptr))
            reply(choice);
    };
    connect(m_skip, &QPushButton::clicked, this, [answer] { answer(platform::UpdateChoice::skip); });
    connect(m_later, &QPushButton::clicked, this, [answer] { answer(platform::UpdateChoice::dismiss); });
    connect(m_install, &QPushButton::clicked, this, [answer] { answer(platform::UpdateChoice::install); });
    connect(m_cancel, &QPushButton::clicked, this, [this] { closedByUser(); });
    connect(m_ok, &QPushButton::clicked, this, [this] { dismiss(); });
    window->restyle = [this] { restyle(); };
    m_window = std::move(window);
    restyle();
}

void UpdaterDialogs::restyle()
{
    const ColorScheme scheme = colorSchemeOf(*m_window);
    const auto token = [scheme](Palette::Token name) { return Palette::color(name, scheme); };
    setColors(*m_title, {{QPalette::WindowText, token(Palette::textPrimary)}});
    setColors(*m_message, {{QPalette::WindowText, token(Palette::textSecondary)}});
    setColors(*m_notes, {{QPalette::Base, token(Palette::controlFill)},
                         {QPalette::Text, token(Palette::textPrimary)},
                         {QPalette::Window, token(Palette::windowBackground)}});
    setColors(*m_progress, {{QPalette::Highlight, token(Palette::brandGreen)},
                            {QPalette::Base, token(Palette::controlFill)},
                            {QPalette::Window, token(Palette::windowBackground)}});
}

UpdaterDialogs::~UpdaterDialogs()
{
    static_cast<UpdateWindow *>(m_window.get())->onClose = nullptr;
}

void UpdaterDialogs::present(const QString &title, const QString &message, Buttons buttons)
{
    m_title->setText(title);
    m_message->setText(message);
    m_message->setVisible(!message.isEmpty());
    m_notes->setVisible(buttons == Buttons::offer && !m_notes->toPlainText().isEmpty());
    m_progress->setVisible(buttons == Buttons::cancel || buttons == Buttons::none);
    m_skip->setVisible(buttons == Buttons::offer);
    m_later->setVisible(buttons == Buttons::offer);
    m_install->setVisible(buttons == Buttons::offer);
    m_cancel->setVisible(buttons == Buttons::cancel);
    m_ok->setVisible(buttons == Buttons::ok);
    QPushButton *main = buttons == Buttons::offer ? m_install : buttons == Buttons::ok ? m_ok : m_cancel;
    for (QPushButton *button : {m_install, m_ok, m_cancel}) {
        if (button->isDefault() == (button == main))
            continue;
        button->setDefault(button == main);
        // The brand draws the main button taller, but a button keeps the size it measured before: told
        // that the style's answers changed, it measures again, so the layout gives it its whole height.
        QEvent restyled(QEvent::StyleChange);
        QCoreApplication::sendEvent(button, &restyled);
    }
    main->setFocus();
    // Each step fixes the window at its content's size: a brand dialog has nothing to maximise or
    // stretch, and window managers offer no maximise for a window that cannot grow.
    const bool shown = m_window->isVisible();
    const QSize before = m_window->size();
    m_window->setMinimumSize(kWidth, 0);
    m_window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    m_window->adjustSize();
    m_window->setFixedSize(m_window->size());
    // Centred on the screen the user looks at, as the application's other windows open, and again at
    // each new size: a window manager still placing the window when it grows may leave it in a corner.
    if (const QScreen *screen = shown ? m_window->screen() : screenWithPointer();
        screen && (!shown || m_window->size() != before))
        centreOnScreen(*m_window, *screen);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void UpdaterDialogs::closedByUser()
{
    // Once per shown step: a reply or a cancel runs at most once.
    if (auto onClose = std::exchange(m_onClose, nullptr))
        onClose();
    m_window->hide();
}

void UpdaterDialogs::showUserInitiatedCheck(std::function<void()> cancel)
{
    m_reply = nullptr;
    m_onClose = std::move(cancel);
    m_progress->setRange(0, 0);
    present(QStringLiteral("Checking for updates…"), {}, Buttons::cancel);
}

void UpdaterDialogs::showUpdateNotFound()
{
    m_onClose = nullptr;
    present(QStringLiteral("You're up to date"),
            QStringLiteral("ZEPA QUARN %1 is the newest version available.").arg(m_runningVersion), Buttons::ok);
}

void UpdaterDialogs::showUpdateFound(const platform::AppcastItem &item,
                                     std::function<void(platform::UpdateChoice)> reply)
{
    m_reply = std::move(reply);
    // Closing the offer is Remind Me Later.
    m_onClose = [this] {
        if (auto pending = std::exchange(m_reply, nullptr))
            pending(platform::UpdateChoice::dismiss);
    };
    QString notes = item.description;
    if (!item.releaseNotesLink.isEmpty())
        notes += (notes.isEmpty() ? QString() : QStringLiteral("\n\n")) + QStringLiteral("Release notes: ") +
                 item.releaseNotesLink.toString();
    m_notes->setPlainText(notesForDisplay(notes));
    present(QStringLiteral("A new version of ZEPA QUARN is available"),
            QStringLiteral("ZEPA QUARN %1 is available; you have %2. Would you like to install it now?")
                .arg(platform::feedTextForDisplay(item.displayVersionString), m_runningVersion),
            Buttons::offer);
    // A critical update can be put off, not skipped.
    m_skip->setVisible(!item.critical);
}

QString UpdaterDialogs::notesForDisplay(const QString &text)
{
    const QString notes = platform::feedTextForDisplay(text);
    QString shown;
    shown.reserve(notes.size() + notes.size() / kLongestLine + 1);
    qsizetype run = 0;
    for (qsizetype i = 0; i < notes.size(); ++i) {
        const QChar c = notes[i];
        if (c.isSpace()) {
            run = 0;
        } else if (run >= kLongestLine && !c.isLowSurrogate()) {
            shown.append(QLatin1Char('\n'));
            run = 0;
        }
        // Characters, not their halves, count.
        if (!c.isSpace() && !c.isLowSurrogate())
            ++run;
        shown.append(c);
    }
    return shown;
}

void UpdaterDialogs::showDownloadProgress(qint64 receivedBytes, qint64 expectedBytes, std::function<void()> cancel)
{
    m_reply = nullptr;
    m_onClose = std::move(cancel);
    if (expectedBytes > 0) {
        m_progress->setRange(0, 1000);
        m_progress->setValue(static_cast<int>(std::min<qint64>(1000, receivedBytes * 1000 / expectedBytes)));
    } else {
        m_progress->setRange(0, 0);
    }
    if (!m_window->isVisible() || m_title->text() != QStringLiteral("Downloading update…"))
        present(QStringLiteral("Downloading update…"), {}, Buttons::cancel);
}

void UpdaterDialogs::showInstalling()
{
    m_onClose = nullptr;
    m_progress->setRange(0, 0);
    present(QStringLiteral("Installing update…"), {}, Buttons::none);
}

void UpdaterDialogs::showError(const QString &message)
{
    m_reply = nullptr;
    m_onClose = nullptr;
    present(QStringLiteral("Update Error"), message, Buttons::ok);
}

void UpdaterDialogs::showInformation(const QString &message)
{
    m_reply = nullptr;
    m_onClose = nullptr;
    present(QStringLiteral("Software Update"), message, Buttons::ok);
}

void UpdaterDialogs::dismiss()
{
    m_reply = nullptr;
    m_onClose = nullptr;
    m_window->hide();
}

} // namespace zq
