#pragma once

#include <QStyledItemDelegate>

// Draws two columns of the window's port table its own way: the signal as a
// small four-bar gauge beside its rssi number (the rssi, -1 when unknown, in
// Qt::UserRole), and the port name by the last part of its path, cut in the
// middle when it is still too long, so that its start and end stay in view.
class PortTableDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    PortTableDelegate(int portColumn, int signalColumn, QObject* parent = nullptr);

    // Bars lit for an rssi (0 to 31; below 0 unknown): 0 to 4.
    static int signalBars(int rssi);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;

private:
    int portColumn;
    int signalColumn;
};
