#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class QBoxLayout;
class QHBoxLayout;
class QVBoxLayout;

// Type codes of the toolkit's members, the argument of the factories.
enum XType : int
{
    XTypeWidget = 1,
    XTypeWidgetDraw = 2,
    XTypeWidgetImage = 3,
    XTypeWidgetStack = 4,
    XTypeMainWindow = 5,
    XTypeFrame = 6,
    XTypeLabel = 7,
    XTypeComboBox = 8,
    XTypeComboBoxFont = 9,
    XTypeDialog = 10,
    XTypeMessageBox = 11,
    XTypeProgressBar = 12,
    XTypeSlider = 13,
    XTypeButtonPush = 14,
    XTypeButtonCheck = 15,
    XTypeButtonRadio = 16,
    XTypeButtonTool = 17,
    XTypeSpinInt = 18,
    XTypeSpinDouble = 19,
    XTypeSpinDate = 20,
    XTypeSpinTime = 21,
    XTypeEditLine = 22,
    XTypeEditText = 23,
    XTypeViewList = 24,
    XTypeViewTree = 25,
    XTypeViewTable = 26,
    XTypeAreaList = 27,
    XTypeAreaScroll = 28,
    XTypeDefBtColor = 29,
    XTypeDefBtFont = 30,
    XTypeDefBtImage = 31,
    XTypeDefShowImage = 32,
};

// A new member of the class of the type code; null for a code outside 1..32.
QWidget* xCreate(QWidget* parent, int type, const int& tag);
// xCreate, then placed at the geometry; null when xCreate gives null.
QWidget* xCreateAt(QWidget* parent, int type, const int& x, const int& y, const int& w, const int& h,
                   const int& tag);
// xCreateAt for a known class: null, and nothing left behind, when the code
// does not make a T.
template <class T> T* xCreateAtAs(QWidget* parent, int type, int x, int y, int w, int h, int tag = 0)
{
    QWidget* widget = xCreateAt(parent, type, x, y, w, h, tag);
    T* typed = qobject_cast<T*>(widget);
    if (typed == nullptr) {
        delete widget;
    }
    return typed;
}

// A new member added to the layout with the stretch; a width or height above
// 0 is fixed. Null when the layout is null or the code is unknown.
QWidget* xAddToLayout(QBoxLayout* layout, int type, int stretch, const int& width, const int& height,
                      const int& tag);
// A vertical box inside the layout. With width and height both below 1 it is
// nested directly; otherwise it is installed on a new XWidget of that fixed
// size, which is added to the layout. Null when the layout is null.
QVBoxLayout* xAddVBox(QBoxLayout* layout, int stretch, const int& width, const int& height, const int& margin,
                      const int& spacing);
// New box layouts with the margin and spacing, installed on the widget unless
// it is null.
QVBoxLayout* xSetVBox(QWidget* widget, const int& margin, const int& spacing);
QHBoxLayout* xSetHBox(QWidget* widget, const int& margin, const int& spacing);

// Shows a modal information box with one "确定" button and the given title and
// text, then gives the keyboard focus to focusWidget (if not null). The result
// is that of exec().
int xShowMessage(const QString& title, const QString& text, QWidget* focusWidget);

// The seam for tests: while a hook is set, xShowMessage builds no box and
// calls the hook with its arguments instead of exec(); the hook's result is
// returned and the focus is still handed to focusWidget. An empty hook
// restores the real box.
using XMessageHook = std::function<int(const QString& title, const QString& text, QWidget* focusWidget)>;
void xSetMessageHook(XMessageHook hook);
