#pragma once

#include <QWidget>

namespace zq {

class StyledLabel;
class SymbolTile;

// A page's empty state: the symbol tile, a title and a line under it that wraps at 420, centred in
// the page with 25 around them and 13 between them.
class EmptyStateView : public QWidget {
public:
    explicit EmptyStateView(QWidget *parent = nullptr);

    void setContent(const QString &symbol, const QString &title, const QString &subtitle);
    StyledLabel *title() const { return m_title; }
    StyledLabel *subtitle() const { return m_subtitle; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void place();

    SymbolTile *m_tile;
    StyledLabel *m_title;
    StyledLabel *m_subtitle;
};

} // namespace zq
