#include "window/AppWindowView.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

namespace zq {

AppWindowView::AppWindowView(AppWindowModel &model, QWidget *parent)
    : QWidget(parent), m_model(model), m_sidebar(new QListWidget(this)), m_pageTitle(new QLabel(this))
{
    // The identifier and title are how the window model finds this window.
    setObjectName(QStringLiteral("zepaquarn-main"));
    setWindowTitle(QStringLiteral("ZEPA QUARN"));
    setMinimumSize(820, 540);
    resize(960, 680);

    m_sidebar->setFixedWidth(210);
    for (auto section : allAppWindowSections) {
        auto *item = new QListWidgetItem(title(section), m_sidebar);
        item->setData(Qt::UserRole, rawValue(section));
    }
    m_pageTitle->setTextFormat(Qt::PlainText);
    QFont font = m_pageTitle->font();
    font.setPointSize(18);
    m_pageTitle->setFont(font);

    auto *detail = new QVBoxLayout;
    detail->addWidget(m_pageTitle);
    detail->addStretch(1);
    auto *version = new QLabel(QStringLiteral("v") + QApplication::applicationVersion(), this);
    version->setTextFormat(Qt::PlainText);
    detail->addWidget(version);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(10, 8, 10, 10);
    row->setSpacing(16);
    row->addWidget(m_sidebar);
    row->addLayout(detail, 1);

    connect(m_sidebar, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row < int(allAppWindowSections.size()) &&
            allAppWindowSections[size_t(row)] != m_model.selection())
            m_model.setSelection(allAppWindowSections[size_t(row)]);
    });
    connect(&m_model, &AppWindowModel::selectionChanged, this, &AppWindowView::showSelection);
    showSelection(m_model.selection());
}

void AppWindowView::showSelection(AppWindowSection section)
{
    for (size_t i = 0; i < allAppWindowSections.size(); ++i) {
        if (allAppWindowSections[i] == section && m_sidebar->currentRow() != int(i))
            m_sidebar->setCurrentRow(int(i));
    }
    m_pageTitle->setText(title(section));
}

} // namespace zq
