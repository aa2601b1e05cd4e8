#include "rewards/stats/LedgerOrbitAccessible.h"

#include "rewards/stats/LedgerOrbitView.h"

#include <QPointer>
#include <QWindow>

namespace zq {

namespace {

enum class Card { ledger, orbit };

// One drawn card as a single element: no children, named with what the card says as a whole.
class CardAccessible final : public QAccessibleInterface {
public:
    CardAccessible(LedgerOrbitView *view, Card card) : m_view(view), m_card(card) {}

    bool isValid() const override { return !m_view.isNull(); }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_view ? m_view->window()->windowHandle() : nullptr; }
    QAccessibleInterface *parent() const override { return QAccessible::queryAccessibleInterface(m_view.data()); }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::Graphic; }
    void setText(QAccessible::Text, const QString &) override {}

    QString text(QAccessible::Text kind) const override
    {
        if (!m_view || kind != QAccessible::Name)
            return {};
        return m_card == Card::ledger ? m_view->ledgerAccessibilityText() : m_view->orbitAccessibilityLabel();
    }

    QRect rect() const override
    {
        if (!m_view)
            return {};
        const QRectF local = m_card == Card::ledger ? m_view->ledgerRect() : m_view->orbitRect();
        return QRect(m_view->mapToGlobal(local.topLeft().toPoint()), local.size().toSize());
    }

    QAccessible::State state() const override
    {
        QAccessible::State state;
        state.invalid = m_view.isNull();
        state.invisible = !m_view || !m_view->isVisible();
        return state;
    }

private:
    QPointer<LedgerOrbitView> m_view;
    const Card m_card;
};

QAccessibleInterface *ledgerOrbitFactory(const QString &, QObject *object)
{
    if (auto *view = qobject_cast<LedgerOrbitView *>(object))
        return new LedgerOrbitAccessible(view);
    return nullptr;
}

} // namespace

LedgerOrbitAccessible::LedgerOrbitAccessible(LedgerOrbitView *view)
    : QAccessibleWidget(view, QAccessible::Grouping), m_ledger(new CardAccessible(view, Card::ledger)),
      m_orbit(new CardAccessible(view, Card::orbit))
{
    QAccessible::registerAccessibleInterface(m_ledger);
    QAccessible::registerAccessibleInterface(m_orbit);
}

LedgerOrbitAccessible::~LedgerOrbitAccessible()
{
    QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(m_ledger));
    QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(m_orbit));
}

int LedgerOrbitAccessible::childCount() const
{
    return 2;
}

QAccessibleInterface *LedgerOrbitAccessible::child(int index) const
{
    return index == 0 ? m_ledger : index == 1 ? m_orbit : nullptr;
}

int LedgerOrbitAccessible::indexOfChild(const QAccessibleInterface *child) const
{
    return child == m_ledger ? 0 : child == m_orbit ? 1 : -1;
}

QAccessibleInterface *LedgerOrbitAccessible::childAt(int x, int y) const
{
    for (QAccessibleInterface *card : {m_ledger, m_orbit}) {
        if (card->rect().contains(x, y))
            return card;
    }
    return nullptr;
}

void installLedgerOrbitAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(&ledgerOrbitFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace zq
