#pragma once

#include <QByteArray>
#include <QString>

namespace zq {

// What only the main window itself holds of how the user left it: where it stood and how large it
// was, and the History search. Everything else it shows lives in models that outlast it, so a
// window built anew and given this before it shows looks as the old one did.
struct AppWindowKept {
    QByteArray geometry;
    QString historyQuery;
};

} // namespace zq
