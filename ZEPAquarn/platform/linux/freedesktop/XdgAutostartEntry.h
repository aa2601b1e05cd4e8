#pragma once

#include "platform/LoginItem.h"

#include <QString>

namespace zq::platform {

// Launch at login as an XDG autostart entry: "zepaquarn.desktop" in the autostart folder
// ($XDG_CONFIG_HOME/autostart, else ~/.config/autostart). The entry is written atomically and
// starts `executable` and shows the icon the application writes into the user's icon theme
// ("zepaquarn"); it counts as enabled while it exists and is neither hidden nor disabled.
class XdgAutostartEntry final : public LoginItem {
public:
    static inline const QString fileName = QStringLiteral("zepaquarn.desktop");

    XdgAutostartEntry(QString autostartFolder, QString executable);
    // The user's autostart folder and this process's executable.
    static XdgAutostartEntry forCurrentUser();
    static QString defaultAutostartFolder();

    Status status() const override;
    rt::Result<void> registerItem() override;
    rt::Result<void> unregisterItem() override;

    QString entryPath() const;
    // The entry's text for an executable; its Exec line quotes the path as desktop entries require.
    static QByteArray entryText(const QString &executable);

private:
    QString m_folder;
    QString m_executable;
};

} // namespace zq::platform
