#pragma once

#include "gui/xstyle.h"

#include <QListView>
#include <QListWidget>
#include <QModelIndex>
#include <QScrollArea>
#include <QTableView>
#include <QTreeView>

class QListWidgetItem;
class QStandardItemModel;

// Read-only list over its own one-column model. Reports the current row and
// double clicks by row number.
class XViewList : public QListView, public XStyle
{
    Q_OBJECT
public:
    explicit XViewList(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;

    QStandardItemModel* itemModel() const { return model; }

signals:
    void xRowSelected(int nRow);
    void xRowDblClick(int nRow);

public slots:
    void onDblClicked(QModelIndex index);

private:
    QStandardItemModel* model = nullptr;
};

class XViewTree : public QTreeView, public XStyle
{
    Q_OBJECT
public:
    explicit XViewTree(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;
};

// Table over its own item model.
class XViewTable : public QTableView, public XStyle
{
    Q_OBJECT
public:
    explicit XViewTable(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;

    QStandardItemModel* itemModel() const { return model; }
    // Writes the text of any cell editor still open into the model and closes
    // it, so that a caller reading the model sees what the operator typed.
    void commitEditing();

private:
    QStandardItemModel* model = nullptr;
};

// Item-based list. Reports the current row and double clicks by row number.
class XAreaList : public QListWidget, public XStyle
{
    Q_OBJECT
public:
    explicit XAreaList(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;

signals:
    void xRowSelected(int nRow);
    void xRowDblClick(int nRow);

public slots:
    void onDblClicked(QListWidgetItem* item);
    void onCurRowChanged(int nRow);
};

class XAreaScroll : public QScrollArea, public XStyle
{
    Q_OBJECT
public:
    explicit XAreaScroll(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;
};
