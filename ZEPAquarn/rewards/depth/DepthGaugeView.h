#pragma once

#include "menubar/brand/CopyConfirmation.h"
#include "menubar/brand/Palette.h"
#include "pipeline/Colorway.h"
#include "rewards/depth/DepthGaugeContent.h"
#include "runtime/Executor.h"

#include <QAbstractButton>
#include <QWidget>

#include <array>
#include <vector>

class QLabel;

namespace zq {

class DepthStore;
class InviteLinkLine;
class StyledLabel;
class ZepaButton;
class ZepaSpinner;

namespace platform {
class Pasteboard;
}

// A colorway swatch: the colorway's base with a dot of its accent, a hairline edge and, when it is
// the chosen one, a ring in the brand accent. A locked swatch is grey and dimmed like a disabled control.
void paintDepthChip(QPainter &painter, const QRectF &rect, Colorway colorway, bool isSelected, bool isSelectable,
                    ColorScheme scheme);

// One swatch as a button: picking it chooses its colorway, only while its rung is unlocked.
class DepthChip final : public QAbstractButton {
    Q_OBJECT
public:
    DepthChip(Colorway colorway, QWidget *parent = nullptr);

    Colorway colorway() const { return m_colorway; }
    bool isSelected() const { return m_isSelected; }
    bool isSelectable() const { return m_isSelectable; }
    void setState(bool isSelected, bool isSelectable);
    // "Selected", "Available" or "Locked".
    QString accessibilityValue() const;

    QSize sizeHint() const override { return {26, 26}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Colorway m_colorway;
    bool m_isSelected = false;
    bool m_isSelectable = false;
};

// The rewards panel of the colorways: the ladder of the surface and the three depth tiers with
// their swatches, and the invite card that creates, copies and refreshes the invite link. Every
// change goes through the depth store; the link is copied to `pasteboard` (none: copies fail).
class DepthGaugeView final : public QWidget {
    Q_OBJECT
public:
    DepthGaugeView(DepthStore &depth, rt::MainLoop &loop, platform::Pasteboard *pasteboard, QWidget *parent = nullptr);

    bool copied() const { return m_copied.isShown(); }
    const std::vector<DepthChip *> &chips() const { return m_chips; }
    QAbstractButton *inviteButton() const;
    QAbstractButton *refreshButton() const;
    QLabel *countLine() const;
    QLabel *errorLine() const;
    InviteLinkLine *linkLine() const { return m_linkLine; }
    QLabel *disclosureLine() const;

    // Copies the link as plain text; "Copied" shows for 1.2 s after each copy.
    void copyLink(const std::optional<QUrl> &url);

protected:
    void changeEvent(QEvent *event) override;

private:
    void refresh();
    void createLink();
    void refreshProgress();

    DepthStore &m_depth;
    rt::MainLoop &m_loop;
    platform::Pasteboard *m_pasteboard;
    std::vector<DepthChip *> m_chips;
    std::array<QLabel *, 4> m_depthLabels{};
    std::array<StyledLabel *, 4> m_rungNames{};
    std::array<QLabel *, 4> m_stateLabels{};
    QWidget *m_card;
    QWidget *m_linkRow;
    InviteLinkLine *m_linkLine;
    ZepaButton *m_copyButton;
    QWidget *m_countRow;
    StyledLabel *m_countLine;
    QAbstractButton *m_refreshButton;
    StyledLabel *m_disclosure;
    ZepaButton *m_createButton;
    ZepaSpinner *m_spinner;
    StyledLabel *m_errorLine;
    CopyConfirmation m_copied;
};

} // namespace zq
