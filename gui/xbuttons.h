#pragma once

#include "gui/xstyle.h"

#include <QCheckBox>
#include <QFont>
#include <QImage>
#include <QList>
#include <QPushButton>
#include <QRadioButton>
#include <QRect>
#include <QToolButton>

class XLabel;
class XWidget;
class XWidgetImage;

// Push button with three rules: normal (state 0), hover (state 2) and
// pressed (state 1).
class XButtonPush : public QPushButton, public XStyle
{
    Q_OBJECT
public:
    explicit XButtonPush(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;
};

// Check box with a normal rule and nine indicator rules: the indicator size
// from the width and height of state 1, and its images from the image values
// of states 2 (unchecked) to 9 (indeterminate, pressed).
class XButtonCheck : public QCheckBox, public XStyle
{
    Q_OBJECT
public:
    explicit XButtonCheck(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;
};

class XButtonRadio : public QRadioButton, public XStyle
{
    Q_OBJECT
public:
    explicit XButtonRadio(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;
};

class XButtonTool : public QToolButton, public XStyle
{
    Q_OBJECT
public:
    explicit XButtonTool(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;
};

// Picker face showing a colour swatch: white face, grey border that darkens
// when pressed.
class XDefBtColor : public QPushButton, public XStyle
{
    Q_OBJECT
public:
    explicit XDefBtColor(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;

    // Shows the colour (any stylesheet colour text) on the swatch.
    void setColorValue(const QString& value);
    QString colorValue() const { return color; }
    XWidget* swatch() const { return swatchWidget; }

private:
    QString color = QStringLiteral("#ffffffff");
    XWidget* swatchWidget = nullptr;
};

// Picker face showing a font sample.
class XDefBtFont : public QPushButton, public XStyle
{
    Q_OBJECT
public:
    explicit XDefBtFont(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;

    // Shows the font's family name, drawn in that font, on the face.
    void setFontValue(const QFont& value);
    QFont fontValue() const { return sampleFont; }
    XLabel* sample() const { return sampleLabel; }

private:
    QFont sampleFont;
    XLabel* sampleLabel = nullptr;
};

// Picker face showing an image sample.
class XDefBtImage : public QPushButton, public XStyle
{
    Q_OBJECT
public:
    explicit XDefBtImage(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;

    void setImageValue(const QImage& value);
    XWidgetImage* sample() const { return sampleImage; }

private:
    XWidgetImage* sampleImage = nullptr;
};

// Transparent button that paints a list of images laid out on a page 400
// units wide, scaled to the button's width.
class XDefShowImage : public QPushButton, public XStyle
{
    Q_OBJECT
public:
    static constexpr int DesignWidth = 400;

    explicit XDefShowImage(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;

    // Places an image at a rectangle given in page units.
    void addItem(const QImage& image, const QRect& placeAt);
    void clearItems();
    int itemCount() const { return items.size(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Item
    {
        QImage image;
        QRect placeAt;
    };
    QList<Item> items;
};
