#pragma once

#include <QLabel>

namespace zq {

// The invite link on one line, selectable: cut with "…" at the end when the row is too narrow for
// it, whole in link(), the tool tip and for accessibility. The copy button copies it whole.
class InviteLinkLine final : public QLabel {
public:
    explicit InviteLinkLine(const QFont &font, QWidget *parent = nullptr);

    void setLink(const QString &link);
    QString link() const { return m_link; }

    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void showFitted();

    QString m_link;
};

} // namespace zq
