#pragma once

#include <QString>

#include <utility>

namespace zq {

// What the pill shows. `muted` carries the notice text shown in the pill; the other cases carry
// nothing. A plain value.
class PillState {
public:
    enum class Kind { muted, hidden, listening, locked, thinking, done };

    static PillState muted(QString notice) { return PillState(Kind::muted, std::move(notice)); }
    static PillState hidden() { return PillState(Kind::hidden); }
    static PillState listening() { return PillState(Kind::listening); }
    static PillState locked() { return PillState(Kind::locked); }
    static PillState thinking() { return PillState(Kind::thinking); }
    static PillState done() { return PillState(Kind::done); }

    Kind kind() const { return m_kind; }
    bool is(Kind kind) const { return m_kind == kind; }
    // The notice of `muted`; empty for every other case.
    const QString &notice() const { return m_notice; }

    friend bool operator==(const PillState &, const PillState &) = default;

private:
    explicit PillState(Kind kind, QString notice = {}) : m_kind(kind), m_notice(std::move(notice)) {}

    Kind m_kind;
    QString m_notice;
};

} // namespace zq
