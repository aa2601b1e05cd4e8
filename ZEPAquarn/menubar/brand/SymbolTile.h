#pragma once

#include "menubar/brand/Palette.h"

#include <QWidget>

class QPainter;

namespace zq {

// The empty states' mark: a 28-point symbol in the accent, centred on a 57-point tile in the
// accent tint with corners of 14.
void paintSymbolTile(QPainter &painter, const QRectF &tile, QStringView symbol, ColorScheme scheme);

// The symbol tile as a widget of its fixed size.
class SymbolTile : public QWidget {
public:
    static constexpr int kSide = 57;

    explicit SymbolTile(QWidget *parent = nullptr);
    void setSymbol(const QString &name);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbol;
};

} // namespace zq
