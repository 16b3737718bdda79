#include "gui/xviews.h"

#include <QItemSelectionModel>
#include <QStandardItemModel>

XViewList::XViewList(QWidget* parent, const int& tag)
    : QListView(parent), XStyle(tag), model(new QStandardItemModel(0, 1, this))
{
    setObjectName(xsObjectName());
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setModel(model);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) { emit xRowSelected(current.row()); });
    connect(this, &QListView::doubleClicked, this, &XViewList::onDblClicked);
    applyStyle();
}

void XViewList::applyStyle()
{
    setStyleSheet(xsRule(QStringLiteral("XViewList#") + objectName(), styleRule(0)));
}

void XViewList::onDblClicked(QModelIndex index)
{
    emit xRowDblClick(index.row());
}

XViewTree::XViewTree(QWidget* parent, const int& tag) : QTreeView(parent), XStyle(tag)
{
    setObjectName(xsObjectName());
}

void XViewTree::applyStyle()
{
    setStyleSheet(xsRule(QStringLiteral("XViewTree#") + objectName(), styleRule(0)));
}

XViewTable::XViewTable(QWidget* parent, const int& tag)
    : QTableView(parent), XStyle(tag), model(new QStandardItemModel(this))
{
    setObjectName(xsObjectName());
    setModel(model);
    applyStyle();
}

void XViewTable::applyStyle()
{
    setStyleSheet(xsRule(QStringLiteral("XViewTable#") + objectName(), styleRule(0)));
}

void XViewTable::commitEditing()
{
    if (state() != QAbstractItemView::EditingState) {
        return;
    }
    // Cell editors are children of the viewport; for any other child the view
    // finds no index and both calls do nothing.
    const QList<QWidget*> children =
        viewport()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget* editor : children) {
        commitData(editor);
        closeEditor(editor, QAbstractItemDelegate::NoHint);
    }
}

XAreaList::XAreaList(QWidget* parent, const int& tag) : QListWidget(parent), XStyle(tag)
{
    setObjectName(xsObjectName());
    connect(this, &QListWidget::itemDoubleClicked, this, &XAreaList::onDblClicked);
    connect(this, &QListWidget::currentRowChanged, this, &XAreaList::onCurRowChanged);
    applyStyle();
}

void XAreaList::applyStyle()
{
    setStyleSheet(xsRule(QStringLiteral("XAreaList#") + objectName(), styleRule(0)));
}

void XAreaList::onDblClicked(QListWidgetItem* item)
{
    if (item != nullptr) {
        emit xRowDblClick(row(item));
    }
}

void XAreaList::onCurRowChanged(int nRow)
{
    emit xRowSelected(nRow);
}

XAreaScroll::XAreaScroll(QWidget* parent, const int& tag) : QScrollArea(parent), XStyle(tag)
{
    setObjectName(xsObjectName());
    applyStyle();
}

void XAreaScroll::applyStyle()
{
    setStyleSheet(xsRule(QStringLiteral("XAreaScroll#") + objectName(), styleRule(0)));
}
