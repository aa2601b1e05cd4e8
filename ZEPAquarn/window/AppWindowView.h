#pragma once

#include "window/AppWindowModel.h"

#include <QWidget>

class QLabel;
class QListWidget;

namespace zq {

// The main window: the sidebar of sections and the selected page. The pages themselves come with the
// settings, history and statistics views; until then a page shows its title.
class AppWindowView : public QWidget {
    Q_OBJECT
public:
    explicit AppWindowView(AppWindowModel &model, QWidget *parent = nullptr);

private:
    void showSelection(AppWindowSection section);

    AppWindowModel &m_model;
    QListWidget *m_sidebar;
    QLabel *m_pageTitle;
};

} // namespace zq
