#include "gui/xbuttons.h"

#include "gui/xfactory.h"
#include "gui/xinputs.h"
#include "gui/xpanels.h"

#include <QPainter>
#include <QVBoxLayout>

namespace {

// Normal, hover and pressed rules of the button-like members.
QString buttonRules(const XStyle& style, const QString& selector)
{
    return XStyle::xsRule(selector, style.styleRule(0)) +
           XStyle::xsRule(selector + QStringLiteral(":hover"), style.styleRule(2)) +
           XStyle::xsRule(selector + QStringLiteral(":pressed"), style.styleRule(1));
}

// The look shared by the picker faces: white, with a border that darkens when
// pressed and lightens under the mouse.
void styleFace(XStyle& style)
{
    style.setXsBackground(QStringLiteral("white"), 0, false);
    style.setXsBorder(QStringLiteral("2px solid rgb(200,200,200)"), 0, false);
    style.setXsBorder(QStringLiteral("3px solid rgb(64,64,64)"), 1, false);
    style.setXsBorder(QStringLiteral("1px solid rgb(128,128,128)"), 2, true);
}

} // namespace

XButtonPush::XButtonPush(QWidget* parent, const int& tag) : QPushButton(parent), XStyle(tag)
{
    setObjectName(xsObjectName());
}

void XButtonPush::applyStyle()
{
    setStyleSheet(buttonRules(*this, QStringLiteral("XButtonPush#") + objectName()));
}

XButtonCheck::XButtonCheck(QWidget* parent, const int& tag) : QCheckBox(parent), XStyle(tag)
{
    setObjectName(xsObjectName());
}

void XButtonCheck::applyStyle()
{
    static const char* const imageSuffixes[] = {
        "::indicator:unchecked",           "::indicator:unchecked:hover",
        "::indicator:unchecked:pressed",   "::indicator:checked",
        "::indicator:checked:hover",       "::indicator:checked:pressed",
        "::indicator:indeterminate:hover", "::indicator:indeterminate:pressed",
    };
    const QString selector = QStringLiteral("XButtonCheck#") + objectName();
    QString sheet = xsRule(selector, styleRule(0));
    sheet += xsRule(selector + QStringLiteral("::indicator"),
                    xsLine("width", xsWidth[1]) + xsLine("height", xsHeight[1]));
    int state = 2;
    for (const char* suffix : imageSuffixes) {
        sheet += xsRule(selector + QLatin1String(suffix), xsLine("image", xsImage[state]));
        ++state;
    }
    setStyleSheet(sheet);
}

XButtonRadio::XButtonRadio(QWidget* parent, const int& tag) : QRadioButton(parent), XStyle(tag)
{
    setObjectName(xsObjectName());
}

void XButtonRadio::applyStyle()
{
    setStyleSheet(xsRule(QStringLiteral("XButtonRadio#") + objectName(), styleRule(0)));
}

XButtonTool::XButtonTool(QWidget* parent, const int& tag) : QToolButton(parent), XStyle(tag)
{
    setObjectName(xsObjectName());
}

void XButtonTool::applyStyle()
{
    setStyleSheet(xsRule(QStringLiteral("XButtonTool#") + objectName(), styleRule(0)));
}

XDefBtColor::XDefBtColor(QWidget* parent, const int& tag) : QPushButton(parent), XStyle(tag)
{
    setObjectName(xsObjectName());
    styleFace(*this);
    QVBoxLayout* box = xSetVBox(this, 3, 0);
    swatchWidget = new XWidget(this, 0);
    swatchWidget->setXsBackground(color, 0, true);
    box->addWidget(swatchWidget);
}

void XDefBtColor::applyStyle()
{
    setStyleSheet(buttonRules(*this, QStringLiteral("XDefBtColor#") + objectName()));
}

void XDefBtColor::setColorValue(const QString& value)
{
    color = value;
    swatchWidget->setXsBackground(color, 0, true);
}

XDefBtFont::XDefBtFont(QWidget* parent, const int& tag) : QPushButton(parent), XStyle(tag)
{
    setObjectName(xsObjectName());
    styleFace(*this);
    sampleFont.setPointSize(14);
    QVBoxLayout* box = xSetVBox(this, 3, 0);
    sampleLabel = new XLabel(this, 0);
    sampleLabel->setXsBackground(QStringLiteral("white"), 0, false);
    sampleLabel->setXsColor(QStringLiteral("black"), 0, true);
    sampleLabel->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    box->addWidget(sampleLabel);
}

void XDefBtFont::applyStyle()
{
    setStyleSheet(buttonRules(*this, QStringLiteral("XDefBtFont#") + objectName()));
}

void XDefBtFont::setFontValue(const QFont& value)
{
    sampleFont = value;
    sampleLabel->setFont(sampleFont);
    sampleLabel->setText(sampleFont.family());
}

XDefBtImage::XDefBtImage(QWidget* parent, const int& tag) : QPushButton(parent), XStyle(tag)
{
    setObjectName(xsObjectName());
    styleFace(*this);
    QVBoxLayout* box = xSetVBox(this, 3, 0);
    sampleImage = new XWidgetImage(this, 0);
    sampleImage->setXsBackground(QStringLiteral("none"), 0, true);
    box->addWidget(sampleImage);
}

void XDefBtImage::applyStyle()
{
    setStyleSheet(buttonRules(*this, QStringLiteral("XDefBtImage#") + objectName()));
}

void XDefBtImage::setImageValue(const QImage& value)
{
    sampleImage->image = value;
    sampleImage->update();
}

XDefShowImage::XDefShowImage(QWidget* parent, const int& tag) : QPushButton(parent), XStyle(tag)
{
    setObjectName(xsObjectName());
    setXsBackground(QStringLiteral("transparent"), 0, false);
    setXsBorder(QStringLiteral("none"), 0, true);
}

void XDefShowImage::applyStyle()
{
    setStyleSheet(buttonRules(*this, QStringLiteral("XDefShowImage#") + objectName()));
}

void XDefShowImage::addItem(const QImage& image, const QRect& placeAt)
{
    items.append(Item{image, placeAt});
    update();
}

void XDefShowImage::clearItems()
{
    items.clear();
    update();
}

void XDefShowImage::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event)
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const qreal scale = qreal(width()) / DesignWidth;
    painter.scale(scale, scale);
    for (const Item& item : qAsConst(items)) {
        if (!item.image.isNull() && item.placeAt.isValid()) {
            painter.drawImage(item.placeAt, item.image);
        }
    }
}
