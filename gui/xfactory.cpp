#include "gui/xfactory.h"

#include "gui/xbuttons.h"
#include "gui/xinputs.h"
#include "gui/xpanels.h"
#include "gui/xplain.h"
#include "gui/xviews.h"

#include <QBoxLayout>
#include <QPointer>

namespace {

XMessageHook& messageHook()
{
    static XMessageHook hook;
    return hook;
}
} // namespace

QWidget* xCreate(QWidget* parent, int type, const int& tag)
{
    switch (type) {
    case XTypeWidget:
        return new XWidget(parent, tag);
    case XTypeWidgetDraw:
        return new XWidgetDraw(parent, tag);
    case XTypeWidgetImage:
        return new XWidgetImage(parent, tag);
    case XTypeWidgetStack:
        return new XWidgetStack(parent, tag);
    case XTypeMainWindow:
        return new XMainWindow(parent, tag);
    case XTypeFrame:
        return new XFrame(parent, tag);
    case XTypeLabel:
        return new XLabel(parent, tag);
    case XTypeComboBox:
        return new XComboBox(parent, tag);
    case XTypeComboBoxFont:
        return new XComboBoxFont(parent, tag);
    case XTypeDialog:
        return new XDialog(parent, tag);
    case XTypeMessageBox:
        return new XMessageBox(parent, tag);
    case XTypeProgressBar:
        return new XProgressBar(parent, tag);
    case XTypeSlider:
        return new XSlider(parent, tag);
    case XTypeButtonPush:
        return new XButtonPush(parent, tag);
    case XTypeButtonCheck:
        return new XButtonCheck(parent, tag);
    case XTypeButtonRadio:
        return new XButtonRadio(parent, tag);
    case XTypeButtonTool:
        return new XButtonTool(parent, tag);
    case XTypeSpinInt:
        return new XSpinInt(parent, tag);
    case XTypeSpinDouble:
        return new XSpinDouble(parent, tag);
    case XTypeSpinDate:
        return new XSpinDate(parent, tag);
    case XTypeSpinTime:
        return new XSpinTime(parent, tag);
    case XTypeEditLine:
        return new XEditLine(parent, tag);
    case XTypeEditText:
        return new XEditText(parent, tag);
    case XTypeViewList:
        return new XViewList(parent, tag);
    case XTypeViewTree:
        return new XViewTree(parent, tag);
    case XTypeViewTable:
        return new XViewTable(parent, tag);
    case XTypeAreaList:
        return new XAreaList(parent, tag);
    case XTypeAreaScroll:
        return new XAreaScroll(parent, tag);
    case XTypeDefBtColor:
        return new XDefBtColor(parent, tag);
    case XTypeDefBtFont:
        return new XDefBtFont(parent, tag);
    case XTypeDefBtImage:
        return new XDefBtImage(parent, tag);
    case XTypeDefShowImage:
        return new XDefShowImage(parent, tag);
    default:
        return nullptr;
    }
}

QWidget* xCreateAt(QWidget* parent, int type, const int& x, const int& y, const int& w, const int& h,
                   const int& tag)
{
    QWidget* widget = xCreate(parent, type, tag);
    if (widget != nullptr) {
        widget->setGeometry(x, y, w, h);
    }
    return widget;
}

QWidget* xAddToLayout(QBoxLayout* layout, int type, int stretch, const int& width, const int& height,
                      const int& tag)
{
    if (layout == nullptr) {
        return nullptr;
    }
    QWidget* widget = xCreate(nullptr, type, tag);
    if (widget == nullptr) {
        return nullptr;
    }
    if (width > 0) {
        widget->setFixedWidth(width);
    }
    if (height > 0) {
        widget->setFixedHeight(height);
    }
    layout->addWidget(widget, stretch);
    return widget;
}

QVBoxLayout* xAddVBox(QBoxLayout* layout, int stretch, const int& width, const int& height, const int& margin,
                      const int& spacing)
{
    if (layout == nullptr) {
        return nullptr;
    }
    if (width < 1 && height < 1) {
        QVBoxLayout* box = xSetVBox(nullptr, margin, spacing);
        layout->addLayout(box, stretch);
        return box;
    }
    QWidget* holder = xAddToLayout(layout, XTypeWidget, stretch, width, height, 0);
    return xSetVBox(holder, margin, spacing);
}

QVBoxLayout* xSetVBox(QWidget* widget, const int& margin, const int& spacing)
{
    auto* box = new QVBoxLayout;
    box->setContentsMargins(margin, margin, margin, margin);
    box->setSpacing(spacing);
    if (widget != nullptr) {
        widget->setLayout(box);
    }
    return box;
}

QHBoxLayout* xSetHBox(QWidget* widget, const int& margin, const int& spacing)
{
    auto* box = new QHBoxLayout;
    box->setContentsMargins(margin, margin, margin, margin);
    box->setSpacing(spacing);
    if (widget != nullptr) {
        widget->setLayout(box);
    }
    return box;
}

void xSetMessageHook(XMessageHook hook)
{
    messageHook() = std::move(hook);
}

int xShowMessage(const QString& title, const QString& text, QWidget* focusWidget)
{
    // The box runs an event loop; the widget may be gone when it closes.
    const QPointer<QWidget> focusTarget(focusWidget);
    int result = 0;
    if (messageHook()) {
        result = messageHook()(title, text, focusWidget);
    } else {
        XMessageBox box(nullptr, 0);
        box.setIcon(QMessageBox::Information);
        box.setWindowTitle(title);
        box.setText(text);
        box.setStandardButtons(QMessageBox::Ok);
        box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
        result = box.exec();
    }
    if (!focusTarget.isNull()) {
        focusTarget->setFocus(Qt::OtherFocusReason);
    }
    return result;
}
