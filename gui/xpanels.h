#pragma once

#include "gui/xstyle.h"

#include <QByteArray>
#include <QColor>
#include <QDialog>
#include <QFont>
#include <QFrame>
#include <QImage>
#include <QMainWindow>
#include <QRect>
#include <QWidget>

// Plain styled panel. It draws its own style background, which a bare
// QWidget subclass would otherwise skip.
class XWidget : public QWidget, public XStyle
{
    Q_OBJECT
public:
    explicit XWidget(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Panel that shows an image scaled to fit, with its aspect ratio kept. The
// image is loaded on demand at the first paint after loadImage is set: from
// imagePath, else from imageBytes.
class XWidgetImage : public QWidget, public XStyle
{
    Q_OBJECT
public:
    explicit XWidgetImage(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;

    bool loadImage = false;
    QString imagePath;
    QByteArray imageBytes;
    QImage image;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Panel that shows an image like XWidgetImage and a one-line caption over it.
class XWidgetDraw : public QWidget, public XStyle
{
    Q_OBJECT
public:
    explicit XWidgetDraw(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;

    QString imagePath;
    // Format hint for decoding imageBytes ("PNG", "JPG"); empty lets Qt guess.
    QString imageFormat;
    QByteArray imageBytes;
    QImage image;
    QString caption;
    QColor penColor = Qt::black;
    QFont captionFont;
    Qt::Alignment alignment = Qt::AlignHCenter | Qt::AlignVCenter;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Panel with an inner rectangle; a press outside it emits outClick. Used to
// close a pop-up area when the operator clicks beside it.
class XWidgetStack : public QWidget, public XStyle
{
    Q_OBJECT
public:
    explicit XWidgetStack(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;

    // The inner rectangle for the current size. Only the low five bits of
    // placeMode count: 0 none; 1..15 edge anchors (1 left, 2 top, 4 right,
    // 8 bottom) using the margins; 16..31 centred, moved by the offsets.
    QRect innerRect() const;

    int placeMode = 0;
    int marginLeft = 0;
    int marginTop = 0;
    int marginRight = 0;
    int marginBottom = 0;
    int offsetX = 0;
    int offsetY = 0;
    int innerWidth = 0;
    int innerHeight = 0;

signals:
    void outClick(int nButton);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
};

class XMainWindow : public QMainWindow, public XStyle
{
    Q_OBJECT
public:
    explicit XMainWindow(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

class XFrame : public QFrame, public XStyle
{
    Q_OBJECT
public:
    explicit XFrame(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;
};

class XDialog : public QDialog, public XStyle
{
    Q_OBJECT
public:
    explicit XDialog(QWidget* parent = nullptr, const int& tag = 0);
    void applyStyle() override;
};
