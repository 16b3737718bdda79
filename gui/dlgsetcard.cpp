#include "gui/dlgsetcard.h"

#include "core/mycardmap.h"
#include "core/mysetting.h"
#include "gui/dlgfields.h"
#include "gui/xbuttons.h"
#include "gui/xfactory.h"
#include "gui/xfonts.h"
#include "gui/xinputs.h"
#include "gui/xpanels.h"
#include "gui/xviews.h"

#include <QHeaderView>
#include <QStandardItemModel>

#include <utility>

namespace {

// A phone number longer than this is refused when saving.
constexpr int PhoneMaxLength = 15;

XButtonPush* addButton(QWidget* parent, int x, int w, const QString& text)
{
    auto* button = xCreateAtAs<XButtonPush>(parent, XTypeButtonPush, x, 315, w, 40);
    button->setText(text);
    button->setXsFont(xTextFont(), 0, true);
    return button;
}

XLabel* addTitle(QWidget* parent, int x, int y, int w, const QString& text)
{
    auto* title = xCreateAtAs<XLabel>(parent, XTypeLabel, x, y, w, 30);
    title->setText(text);
    title->setXsColor(QStringLiteral("rgb(96,96,96)"), 0, false);
    title->setXsFont(xTextFont(), 0, true);
    return title;
}

QString cellText(const QStandardItemModel* model, int row, int column)
{
    const QStandardItem* item = model->item(row, column);
    return item == nullptr ? QString() : item->text().trimmed();
}

} // namespace

DlgSetCard::DlgSetCard(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("手机号和SIM卡号对应关系维护"));
    setFixedSize(500, 360);

    auto* panel = xCreateAtAs<XWidget>(this, XTypeWidget, 5, 5, 490, 305);
    panel->setXsBackground(QStringLiteral("white"), 0, false);
    panel->setXsBorder(QStringLiteral("1px solid rgb(196,196,196)"), 0, true);
    addTitle(panel, 28, 1, 250, QStringLiteral("SIM卡号"));
    addTitle(panel, 278, 2, 200, QStringLiteral("手机号码"));

    tbCards = xCreateAtAs<XViewTable>(panel, XTypeViewTable, 1, 32, 488, 271);
    tbCards->itemModel()->setColumnCount(2);
    tbCards->setEditTriggers(QAbstractItemView::AllEditTriggers);
    tbCards->setXsBorder(QStringLiteral("none"), 0, false);
    tbCards->setXsFont(xTextFont(), 0, true);
    tbCards->setColumnWidth(0, 250);
    tbCards->horizontalHeader()->setStretchLastSection(true);
    tbCards->horizontalHeader()->setVisible(false);

    XButtonPush* save = addButton(this, 330, 80, QStringLiteral("保存"));
    XButtonPush* cancel = addButton(this, 415, 80, QStringLiteral("取消"));
    XButtonPush* add = addButton(this, 5, 100, QStringLiteral("添加行"));
    XButtonPush* del = addButton(this, 110, 100, QStringLiteral("删除行"));
    connect(save, &QPushButton::clicked, this, &DlgSetCard::onBtOk);
    connect(cancel, &QPushButton::clicked, this, &DlgSetCard::onBtCancel);
    connect(add, &QPushButton::clicked, this, &DlgSetCard::onBtAdd);
    connect(del, &QPushButton::clicked, this, &DlgSetCard::onBtDel);

    const MyCardMap* map = theSetting.cardMap;
    for (int i = 0; i < map->simList.size(); ++i) {
        tbCards->itemModel()->appendRow(
            {new QStandardItem(map->simList.at(i)), new QStandardItem(map->phoneList.value(i))});
    }
}

void DlgSetCard::onBtAdd()
{
    tbCards->itemModel()->appendRow({new QStandardItem(), new QStandardItem()});
}

void DlgSetCard::onBtDel()
{
    const QModelIndex current = tbCards->currentIndex();
    if (!current.isValid()) {
        return;
    }
    tbCards->itemModel()->removeRow(current.row());
}

void DlgSetCard::onBtOk()
{
    if (checkAndSave()) {
        accept();
    }
}

void DlgSetCard::onBtCancel()
{
    reject();
}

bool DlgSetCard::checkAndSave()
{
    // A cell editor may still be open when save is reached without a click
    // (which would have taken the focus and committed it): take its text too.
    tbCards->commitEditing();
    const QStandardItemModel* model = tbCards->itemModel();
    const int rows = model->rowCount();

    MyCardMap checked;
    for (int row = 0; row < rows; ++row) {
        const QString sim = cellText(model, row, 0);
        const QString phone = cellText(model, row, 1);
        if (phone.length() > PhoneMaxLength || !checked.addPair(sim, phone)) {
            xShowMessage(QStringLiteral("错误提示"),
                         QStringLiteral("请检查第 ") + QString::number(row + 1) +
                             QStringLiteral(" 行的数据（SIM卡号不能为空，不能重复；手机号码不能超过15位）"),
                         this);
            return false;
        }
    }

    // The checked pairs replace the map; they go back if the file cannot take them.
    MyCardMap* map = theSetting.cardMap;
    std::swap(map->simList, checked.simList);
    std::swap(map->phoneList, checked.phoneList);
    if (!dlgSaveSettings(this)) {
        std::swap(map->simList, checked.simList);
        std::swap(map->phoneList, checked.phoneList);
        return false;
    }
    return true;
}
