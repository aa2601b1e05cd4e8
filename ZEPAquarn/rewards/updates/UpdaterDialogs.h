#pragma once

#include "platform/UpdateFramework.h"

#include <QObject>

#include <functional>
#include <memory>

class QDialog;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace zq {

// The update framework's windows: one small dialog whose content follows the cycle (checking, up
// to date, the offer with its release notes, download progress, installing, an error or a note).
// Every text from the feed is shown as plain text. Closing the window is Cancel while something
// runs and Remind Me Later on an offer. Main thread only.
class UpdaterDialogs final : public QObject, public platform::UpdateUserDriver {
    Q_OBJECT
public:
    explicit UpdaterDialogs(QString runningVersion, QObject *parent = nullptr);
    ~UpdaterDialogs() override;

    void showUserInitiatedCheck(std::function<void()> cancel) override;
    void showUpdateNotFound() override;
    void showUpdateFound(const platform::AppcastItem &item, std::function<void(platform::UpdateChoice)> reply) override;
    void showDownloadProgress(qint64 receivedBytes, qint64 expectedBytes, std::function<void()> cancel) override;
    void showInstalling() override;
    void showError(const QString &message) override;
    void showInformation(const QString &message) override;
    void dismiss() override;

    // The window, for tests and for raising it.
    QDialog *window() const { return m_window.get(); }

    // Release notes as the offer shows them: feed text for display (UpdateFramework.h), and a
    // run of more than kLongestLine characters with no space in it goes on over several lines of
    // that length. Each line is its own block of the notes view, which lays out only the blocks
    // it shows, so no text can stall the window.
    static constexpr qsizetype kLongestLine = 80;
    static QString notesForDisplay(const QString &notes);

private:
    enum class Buttons { none, cancel, ok, offer };
    void present(const QString &title, const QString &message, Buttons buttons);
    void closedByUser();
    void restyle();

    QString m_runningVersion;
    std::unique_ptr<QDialog> m_window;
    QLabel *m_title = nullptr;
    QLabel *m_message = nullptr;
    QPlainTextEdit *m_notes = nullptr;
    QProgressBar *m_progress = nullptr;
    QPushButton *m_skip = nullptr;
    QPushButton *m_later = nullptr;
    QPushButton *m_install = nullptr;
    QPushButton *m_cancel = nullptr;
    QPushButton *m_ok = nullptr;
    // What closing the window means now; cleared before it runs, so it runs once.
    std::function<void()> m_onClose;
    std::function<void(platform::UpdateChoice)> m_reply;
};

} // namespace zq
