#include "gui/xplain.h"

XMessageBox::XMessageBox(QWidget* parent, const int& tag) : QMessageBox(parent)
{
    Q_UNUSED(tag)
}

XProgressBar::XProgressBar(QWidget* parent, const int& tag) : QProgressBar(parent)
{
    Q_UNUSED(tag)
}

XSpinDouble::XSpinDouble(QWidget* parent, const int& tag) : QDoubleSpinBox(parent)
{
    Q_UNUSED(tag)
}

XSpinDate::XSpinDate(QWidget* parent, const int& tag) : QDateEdit(parent)
{
    Q_UNUSED(tag)
}

XSpinTime::XSpinTime(QWidget* parent, const int& tag) : QTimeEdit(parent)
{
    Q_UNUSED(tag)
}
