#include "window/AppWindowModel.h"

namespace zq {

AppWindowModel::AppWindowModel(rt::MainLoop &loop, WindowList windows, std::function<void()> activateApp,
                               QObject *parent)
    : QObject(parent), m_loop(loop), m_windows(std::move(windows)), m_activateApp(std::move(activateApp))
{}

void AppWindowModel::setSelection(AppWindowSection section)
{
    m_selection = section;
    emit selectionChanged(section);
}

void AppWindowModel::showWindow(int attempt)
{
    const auto windows = m_windows();
    const AppWindowHandle *found = nullptr;
    for (const auto &window : windows) {
        if (window.identifier == QLatin1String("zepaquarn-main") || window.title == QLatin1String("ZEPA QUARN")) {
            found = &window;
            break;
        }
    }
    if (found) {
        m_activateApp();
        found->makeKeyAndOrderFront();
        return;
    }
    if (attempt < 5)
        m_loop.postDelayed(rt::seconds(0.05), m_lifetime.guard([this, attempt] { showWindow(attempt + 1); }));
}

} // namespace zq
