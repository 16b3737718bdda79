#include "gui/xpanels.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>

namespace {

// Lets the style draw the widget's stylesheet background and border.
void drawStyledBackground(QWidget* widget)
{
    QStyleOption option;
    option.initFrom(widget);
    QPainter painter(widget);
    widget->style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, widget);
}

// Loads an image that is still null: from the path if given, else from the bytes.
void loadIfNull(QImage& image, const QString& path, const QByteArray& bytes, const char* format)
{
    if (image.isNull() && !path.isEmpty()) {
        image.load(path);
    }
    if (image.isNull() && !bytes.isEmpty()) {
        image.loadFromData(bytes, format);
    }
}

// Draws the image scaled to fit inside a one-pixel inset, aspect kept, centred.
void drawFitted(QPainter& painter, const QWidget* widget, const QImage& image)
{
    const QRect target(1, 1, widget->width() - 2, widget->height() - 2);
    QSize size = image.size();
    size.scale(target.size(), Qt::KeepAspectRatio);
    if (size.isEmpty()) {
        return;
    }
    QRect placed(QPoint(0, 0), size);
    placed.moveCenter(target.center());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(placed, image);
}

} // namespace

XWidget::XWidget(QWidget* parent, const int& tag) : QWidget(parent), XStyle(tag)
{
    setObjectName(xsObjectName());
}

void XWidget::applyStyle()
{
    setStyleSheet(xsRule(QStringLiteral("XWidget#") + objectName(), styleRule(0)));
}

void XWidget::paintEvent(QPaintEvent* event)
{
    drawStyledBackground(this);
    QWidget::paintEvent(event);
}

XWidgetImage::XWidgetImage(QWidget* parent, const int& tag) : QWidget(parent), XStyle(tag)
{
    setObjectName(xsObjectName());
}

void XWidgetImage::applyStyle()
{
    setStyleSheet(xsRule(QStringLiteral("XWidgetImage#") + objectName(), styleRule(0)));
}

void XWidgetImage::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event)
    drawStyledBackground(this);
    if (loadImage) {
        loadIfNull(image, imagePath, imageBytes, nullptr);
    }
    if (!image.isNull() && width() > 2 && height() > 2) {
        QPainter painter(this);
        drawFitted(painter, this, image);
    }
}

XWidgetDraw::XWidgetDraw(QWidget* parent, const int& tag) : QWidget(parent), XStyle(tag)
{
    setObjectName(xsObjectName());
    captionFont.setPointSize(14);
}

void XWidgetDraw::applyStyle()
{
    setStyleSheet(xsRule(QStringLiteral("XWidgetDraw#") + objectName(), styleRule(0)));
}

void XWidgetDraw::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event)
    drawStyledBackground(this);
    QPainter painter(this);
    if (width() >= 3 && height() >= 3) {
        const QByteArray format = imageFormat.toLatin1();
        loadIfNull(image, imagePath, imageBytes, format.isEmpty() ? nullptr : format.constData());
        if (!image.isNull()) {
            drawFitted(painter, this, image);
        }
    }
    if (!caption.isEmpty() && width() >= 10 && height() >= 10) {
        painter.setFont(captionFont);
        painter.setPen(penColor);
        const QString shown = QFontMetrics(captionFont).elidedText(caption, Qt::ElideRight, width());
        painter.drawText(rect(), int(alignment | Qt::TextSingleLine), shown);
    }
}

XWidgetStack::XWidgetStack(QWidget* parent, const int& tag) : QWidget(parent), XStyle(tag)
{
    setObjectName(xsObjectName());
}

void XWidgetStack::applyStyle()
{
    setStyleSheet(xsRule(QStringLiteral("XWidgetStack#") + objectName(), styleRule(0)));
}

QRect XWidgetStack::innerRect() const
{
    const int mode = placeMode & 0x1f;
    const int w = width();
    const int h = height();
    if (mode >= 16) {
        return QRect(offsetX + w / 2 - innerWidth / 2, offsetY + h / 2 - innerHeight / 2, innerWidth,
                     innerHeight);
    }
    int left = w / 2 - innerWidth / 2;
    int across = innerWidth;
    if ((mode & 1) && (mode & 4)) {
        left = marginLeft;
        across = w - marginLeft - marginRight;
    } else if (mode & 1) {
        left = marginLeft;
    } else if (mode & 4) {
        left = w - marginRight - innerWidth;
    }
    int top = h / 2 - innerHeight / 2;
    int down = innerHeight;
    if ((mode & 2) && (mode & 8)) {
        top = marginTop;
        down = h - marginTop - marginBottom;
    } else if (mode & 2) {
        top = marginTop;
    } else if (mode & 8) {
        top = h - marginBottom - innerHeight;
    }
    return QRect(left, top, across, down);
}

void XWidgetStack::paintEvent(QPaintEvent* event)
{
    drawStyledBackground(this);
    QWidget::paintEvent(event);
}

void XWidgetStack::mousePressEvent(QMouseEvent* event)
{
    QWidget::mousePressEvent(event);
    if ((placeMode & 0x1f) != 0 && !innerRect().contains(event->pos())) {
        emit outClick(int(event->button()));
    }
}

XMainWindow::XMainWindow(QWidget* parent, const int& tag) : QMainWindow(parent), XStyle(tag)
{
    setObjectName(xsObjectName());
}

void XMainWindow::applyStyle()
{
    setStyleSheet(xsRule(QStringLiteral("XMainWindow#") + objectName(), styleRule(0)));
}

void XMainWindow::paintEvent(QPaintEvent* event)
{
    drawStyledBackground(this);
    QMainWindow::paintEvent(event);
}

XFrame::XFrame(QWidget* parent, const int& tag) : QFrame(parent), XStyle(tag)
{
    setObjectName(xsObjectName());
    applyStyle();
}

void XFrame::applyStyle()
{
    setStyleSheet(xsRule(QStringLiteral("XFrame#") + objectName(), styleRule(0)));
}

XDialog::XDialog(QWidget* parent, const int& tag) : QDialog(parent), XStyle(tag)
{
    setObjectName(xsObjectName());
}

void XDialog::applyStyle()
{
    setStyleSheet(xsRule(QStringLiteral("XDialog#") + objectName(), styleRule(0)));
}
