#pragma once

#include "gui/xstyle.h"

#include <QComboBox>
#include <QFontComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QSpinBox>
#include <QTextEdit>

// Styled text and input widgets. Each builds one rule, for its normal state.

class XLabel : public QLabel, public XStyle
{
    Q_OBJECT
public:
    explicit XLabel(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;
};

class XComboBox : public QComboBox, public XStyle
{
    Q_OBJECT
public:
    explicit XComboBox(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;
};

class XComboBoxFont : public QFontComboBox, public XStyle
{
    Q_OBJECT
public:
    explicit XComboBoxFont(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;
};

class XSlider : public QSlider, public XStyle
{
    Q_OBJECT
public:
    explicit XSlider(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;
};

class XSpinInt : public QSpinBox, public XStyle
{
    Q_OBJECT
public:
    explicit XSpinInt(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;
};

class XEditLine : public QLineEdit, public XStyle
{
    Q_OBJECT
public:
    explicit XEditLine(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;
};

class XEditText : public QTextEdit, public XStyle
{
    Q_OBJECT
public:
    explicit XEditText(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;
};
