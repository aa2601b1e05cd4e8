#pragma once

#include <QMargins>
#include <QWidget>

namespace zq {

// Centres one widget in the full width, at most `maximumWidth` wide, inside `margins` that lie
// outside that width; its height follows the content's height for its width.
class CentredColumn final : public QWidget {
public:
    CentredColumn(QWidget *content, int maximumWidth, QMargins margins, QWidget *parent = nullptr);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return {0, 0}; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    int contentWidth(int width) const;

    QWidget *m_content;
    int m_maximumWidth;
    QMargins m_margins;
};

} // namespace zq
