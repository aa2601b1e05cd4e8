#pragma once

#include "runtime/Executor.h"
#include "window/AppWindowSection.h"

#include <QObject>
#include <QString>

#include <functional>
#include <vector>

namespace zq {

// A top-level window as the model sees it when it looks for the main window.
struct AppWindowHandle {
    QString identifier;
    QString title;
    std::function<void()> makeKeyAndOrderFront;
};

// The one object through which the application opens the main window at a page. Main thread only.
class AppWindowModel : public QObject {
    Q_OBJECT
public:
    using WindowList = std::function<std::vector<AppWindowHandle>()>;

    // `windows` lists the application's windows in the application's order; `activateApp` brings the
    // application to the front.
    AppWindowModel(rt::MainLoop &loop, WindowList windows, std::function<void()> activateApp,
                   QObject *parent = nullptr);

    AppWindowSection selection() const { return m_selection; }
    void setSelection(AppWindowSection section);

    void activateApp() const { m_activateApp(); }

    // Finds the window identified "zepaquarn-main" (or titled "ZEPA QUARN") and raises it; the window
    // may be created after the caller asked for it, so it looks again every 0.05 s, five times at most.
    void showWindow(int attempt);

signals:
    void selectionChanged(AppWindowSection section);

private:
    rt::MainLoop &m_loop;
    WindowList m_windows;
    std::function<void()> m_activateApp;
    AppWindowSection m_selection = AppWindowSection::stats;
    rt::Lifetime m_lifetime;
};

} // namespace zq
