#include "gui/porttabledelegate.h"

#include <QApplication>
#include <QPainter>

namespace {

constexpr int BarCount = 4;
constexpr int BarWidth = 4;
constexpr int BarGap = 2;
constexpr int GaugeWidth = BarCount * (BarWidth + BarGap);

} // namespace

PortTableDelegate::PortTableDelegate(int portColumn, int signalColumn, QObject* parent)
    : QStyledItemDelegate(parent), portColumn(portColumn), signalColumn(signalColumn)
{
}

int PortTableDelegate::signalBars(int rssi)
{
    // The usual reading of rssi: below 10 marginal, 10 to 14 fair, 15 to 19
    // good, 20 and above excellent.
    if (rssi <= 0) {
        return 0;
    }
    return rssi < 10 ? 1 : rssi < 15 ? 2 : rssi < 20 ? 3 : 4;
}

void PortTableDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const
{
    QStyledItemDelegate::initStyleOption(option, index);
    if (index.column() == portColumn) {
        // A path by its last part (the whole one is in the tooltip).
        option->text = option->text.section(QLatin1Char('/'), -1);
        option->textElideMode = Qt::ElideMiddle;
    }
}

void PortTableDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const
{
    if (index.column() != signalColumn) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // The cell as usual (background, selection, the number), moved right of the gauge.
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    const QRect area = cell.rect;
    cell.rect.setLeft(area.left() + GaugeWidth + 6);
    const QWidget* widget = option.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    QStyleOptionViewItem background = option;
    background.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);
    cell.backgroundBrush = Qt::NoBrush;
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);

    const int rssi = index.data(Qt::UserRole).toInt();
    const int lit = signalBars(rssi);
    const int tallest = area.height() * 3 / 5;
    const int bottom = area.center().y() + tallest / 2;
    painter->save();
    painter->setPen(Qt::NoPen);
    for (int bar = 0; bar < BarCount; ++bar) {
        const int height = tallest * (bar + 1) / BarCount;
        const QRect rect(area.left() + 4 + bar * (BarWidth + BarGap), bottom - height, BarWidth, height);
        painter->setBrush(bar < lit ? QColor(0, 128, 64) : QColor(205, 205, 205));
        painter->drawRect(rect);
    }
    painter->restore();
}

QSize PortTableDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    if (index.column() == signalColumn) {
        size.rwidth() += GaugeWidth + 6;
    }
    return size;
}
