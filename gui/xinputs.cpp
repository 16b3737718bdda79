#include "gui/xinputs.h"

XLabel::XLabel(QWidget* parent, const int& tag) : QLabel(parent), XStyle(tag)
{
    setObjectName(xsObjectName());
    applyStyle();
}

void XLabel::applyStyle()
{
    setStyleSheet(xsRule(QStringLiteral("XLabel#") + objectName(), styleRule(0)));
}

XComboBox::XComboBox(QWidget* parent, const int& tag) : QComboBox(parent), XStyle(tag)
{
    setObjectName(xsObjectName());
}

void XComboBox::applyStyle()
{
    setStyleSheet(xsRule(QStringLiteral("XComboBox#") + objectName(), styleRule(0)));
}

XComboBoxFont::XComboBoxFont(QWidget* parent, const int& tag) : QFontComboBox(parent), XStyle(tag)
{
    setObjectName(xsObjectName());
}

void XComboBoxFont::applyStyle()
{
    setStyleSheet(xsRule(QStringLiteral("XComboBoxFont#") + objectName(), styleRule(0)));
}

XSlider::XSlider(QWidget* parent, const int& tag) : QSlider(parent), XStyle(tag)
{
    setObjectName(xsObjectName());
    applyStyle();
}

void XSlider::applyStyle()
{
    setStyleSheet(xsRule(QStringLiteral("XSlider#") + objectName(), styleRule(0)));
}

XSpinInt::XSpinInt(QWidget* parent, const int& tag) : QSpinBox(parent), XStyle(tag)
{
    setObjectName(xsObjectName());
    applyStyle();
}

void XSpinInt::applyStyle()
{
    setStyleSheet(xsRule(QStringLiteral("XSpinInt#") + objectName(), styleRule(0)));
}

XEditLine::XEditLine(QWidget* parent, const int& tag) : QLineEdit(parent), XStyle(tag)
{
    setObjectName(xsObjectName());
    applyStyle();
}

void XEditLine::applyStyle()
{
    setStyleSheet(xsRule(QStringLiteral("XEditLine#") + objectName(), styleRule(0)));
}

XEditText::XEditText(QWidget* parent, const int& tag) : QTextEdit(parent), XStyle(tag)
{
    setObjectName(xsObjectName());
}

void XEditText::applyStyle()
{
    setStyleSheet(xsRule(QStringLiteral("XEditText#") + objectName(), styleRule(0)));
}
