#pragma once

#include "pipeline/Colorway.h"
#include "rewards/depth/DepthTier.h"
#include "rewards/depth/InviteService.h"
#include "runtime/Settings.h"
#include "runtime/Task.h"

#include <QObject>
#include <QUrl>

#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace zq {

// The invite code, its verified-download count, the depth tiers that count has unlocked and the
// chosen colorway, kept in the settings "inviteCode", "inviteVerifiedDownloads", "depthUnlocked" and
// "depthSelection"; and the colorway every view wears. Tiers only ever grow and the count never
// falls through a refresh. At most one invite request is outstanding. Main thread only; the two
// requests are tasks that resume on the loop that runs them.
class DepthStore : public QObject {
    Q_OBJECT
public:
    // Loads the stored state; sends nothing.
    explicit DepthStore(rt::Settings &settings, InviteService service = {}, QObject *parent = nullptr);

    const std::set<DepthTier> &unlocked() const { return m_unlocked; }
    const std::optional<QString> &code() const { return m_code; }
    const std::optional<qint64> &verifiedDownloads() const { return m_verifiedDownloads; }
    bool inviteRequestInFlight() const { return m_inviteRequestInFlight; }
    const std::optional<QString> &inviteError() const { return m_inviteError; }

    Colorway selection() const { return m_selection; }
    // Stored at once; a colorway that is not available is kept and worn once its tier unlocks.
    void setSelection(Colorway colorway);

    // Fetches the code's verified downloads and unlocks the tiers they reach. False, changing
    // nothing, without a code or while another request is outstanding; false with `inviteError`
    // set when the service gave no count.
    rt::Task<bool> refreshProgress();
    // Mints a code (true at once, sending nothing, when one is held). False while another request
    // is outstanding, and with `inviteError` set when the service gave no code.
    rt::Task<bool> createInviteLink();

    // "https://" + host + "/i/" + code while a valid code is held.
    std::optional<QUrl> shareURL() const;

    // The default skin first, then each unlocked tier's colorways in tier order.
    static std::vector<Colorway> availableColorways(const std::set<DepthTier> &unlocked);
    static Colorway effectiveColorway(Colorway selection, const std::set<DepthTier> &unlocked);
    Colorway effectiveColorway() const { return effectiveColorway(m_selection, m_unlocked); }

signals:
    void selectionChanged(Colorway selection);
    void unlockedChanged();
    // The code, the count, the in-flight flag or the error changed.
    void inviteStateChanged();

private:
    void setInFlight(bool inFlight, std::optional<QString> error);

    rt::Settings &m_settings;
    InviteService m_service;
    std::set<DepthTier> m_unlocked;
    std::optional<QString> m_code;
    std::optional<qint64> m_verifiedDownloads;
    bool m_inviteRequestInFlight = false;
    std::optional<QString> m_inviteError;
    Colorway m_selection = Colorway::consensusMint;
    // A request that ends after the store is gone must not touch it.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

} // namespace zq
