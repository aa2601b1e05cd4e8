#include "window/SettingsShortcut.h"

#include <QKeyEvent>
#include <QWindow>

namespace zq {

SettingsShortcut::SettingsShortcut(std::function<void()> openSettings, QObject *parent)
    : QObject(parent), m_openSettings(std::move(openSettings))
{}

bool SettingsShortcut::eventFilter(QObject *watched, QEvent *event)
{
    // A key reaches the filter once for its window and again for each widget on its way: only the
    // window's copy counts, so one press opens the settings once.
    if (event->type() == QEvent::KeyPress && watched->isWindowType()) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Comma && (key->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier) {
            m_openSettings();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace zq
