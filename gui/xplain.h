#pragma once

#include <QDateEdit>
#include <QDoubleSpinBox>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimeEdit>

// Members of the toolkit without style values: they exist so that the
// factory can create them by type code like the styled ones.

class XMessageBox : public QMessageBox
{
    Q_OBJECT
public:
    explicit XMessageBox(QWidget* parent = nullptr, const int& tag = 0);
};

class XProgressBar : public QProgressBar
{
    Q_OBJECT
public:
    explicit XProgressBar(QWidget* parent = nullptr, const int& tag = 0);
};

class XSpinDouble : public QDoubleSpinBox
{
    Q_OBJECT
public:
    explicit XSpinDouble(QWidget* parent = nullptr, const int& tag = 0);
};

class XSpinDate : public QDateEdit
{
    Q_OBJECT
public:
    explicit XSpinDate(QWidget* parent = nullptr, const int& tag = 0);
};

class XSpinTime : public QTimeEdit
{
    Q_OBJECT
public:
    explicit XSpinTime(QWidget* parent = nullptr, const int& tag = 0);
};
