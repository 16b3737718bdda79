// The factories, the message box helper and the behaviour of the members that
// paint or signal on their own.
#include "widgets/xwidgets.h"

#include <QApplication>
#include <QBuffer>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest>

namespace {

QByteArray pngOf(const QColor& colour, int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

class TestXFactory : public QObject
{
    Q_OBJECT

private slots:
    void createEveryCode_data();
    void createEveryCode();
    void createRefusesUnknownCodes_data();
    void createRefusesUnknownCodes();
    void createAtPlaces();
    void addToLayout();
    void addVBox_data();
    void addVBox();
    void setBoxes();
    void messageHookAnswers();
    void messageBoxAsShown();
    void stackInnerRect_data();
    void stackInnerRect();
    void stackOutClick();
    void imageDrawnFitted();
    void imageBadBytesDrawNothing();
    void drawCaptionAndImage();
    void listSignals();
};

void TestXFactory::createEveryCode_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("className");
    QTest::addColumn<bool>("styled");

    const char* names[] = {"XWidget",      "XWidgetDraw",  "XWidgetImage", "XWidgetStack",  "XMainWindow",
                           "XFrame",       "XLabel",       "XComboBox",    "XComboBoxFont", "XDialog",
                           "XMessageBox",  "XProgressBar", "XSlider",      "XButtonPush",   "XButtonCheck",
                           "XButtonRadio", "XButtonTool",  "XSpinInt",     "XSpinDouble",   "XSpinDate",
                           "XSpinTime",    "XEditLine",    "XEditText",    "XViewList",     "XViewTree",
                           "XViewTable",   "XAreaList",    "XAreaScroll",  "XDefBtColor",   "XDefBtFont",
                           "XDefBtImage",  "XDefShowImage"};
    for (int type = 1; type <= 32; ++type) {
        const bool plain = type == 11 || type == 12 || (type >= 19 && type <= 21);
        QTest::addRow("%d %s", type, names[type - 1])
            << type << QString::fromLatin1(names[type - 1]) << !plain;
    }
}

void TestXFactory::createEveryCode()
{
    QFETCH(int, type);
    QFETCH(QString, className);
    QFETCH(bool, styled);

    QWidget parent;
    QWidget* widget = xCreate(&parent, type, 7);
    QVERIFY(widget);
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
    QCOMPARE(widget->parentWidget(), &parent);
    XStyle* style = dynamic_cast<XStyle*>(widget);
    QCOMPARE(style != nullptr, styled);
    if (style != nullptr) {
        QCOMPARE(style->tag, 7);
    }
}

void TestXFactory::createRefusesUnknownCodes_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("0") << 0;
    QTest::newRow("33") << 33;
    QTest::newRow("-1") << -1;
}

void TestXFactory::createRefusesUnknownCodes()
{
    QFETCH(int, type);
    QWidget parent;
    QCOMPARE(xCreate(&parent, type, 0), nullptr);
    QCOMPARE(xCreateAt(&parent, type, 1, 2, 3, 4, 0), nullptr);
    QHBoxLayout* box = xSetHBox(&parent, 0, 0);
    QCOMPARE(xAddToLayout(box, type, 1, 10, 10, 0), nullptr);
    QCOMPARE(box->count(), 0);
    QVERIFY(parent.findChildren<QWidget*>().isEmpty());
}

void TestXFactory::createAtPlaces()
{
    QWidget parent;
    QWidget* label = xCreateAt(&parent, XTypeLabel, 20, 55, 150, 50, 0);
    QVERIFY(qobject_cast<XLabel*>(label));
    QCOMPARE(label->geometry(), QRect(20, 55, 150, 50));
    QCOMPARE(xCreateAtAs<XButtonPush>(&parent, XTypeLabel, 0, 0, 1, 1), nullptr);
}

void TestXFactory::addToLayout()
{
    QCOMPARE(xAddToLayout(nullptr, XTypeWidget, 1, 10, 10, 0), nullptr);

    QWidget host;
    QHBoxLayout* box = xSetHBox(&host, 5, 5);
    QWidget* fixedWidth = xAddToLayout(box, XTypeButtonPush, 0, 80, 0, 0);
    QWidget* fixedHeight = xAddToLayout(box, XTypeWidget, 1, 0, 40, 0);
    QVERIFY(fixedWidth && fixedHeight);
    QCOMPARE(box->count(), 2);
    QCOMPARE(fixedWidth->parentWidget(), &host);
    QCOMPARE(fixedWidth->minimumWidth(), 80);
    QCOMPARE(fixedWidth->maximumWidth(), 80);
    QCOMPARE(fixedWidth->maximumHeight(), QWIDGETSIZE_MAX);
    QCOMPARE(fixedHeight->minimumHeight(), 40);
    QCOMPARE(fixedHeight->maximumHeight(), 40);
    QCOMPARE(fixedHeight->maximumWidth(), QWIDGETSIZE_MAX);
    QCOMPARE(box->stretch(0), 0);
    QCOMPARE(box->stretch(1), 1);
}

void TestXFactory::addVBox_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("nested");

    QTest::newRow("no size: nested layout") << 0 << 0 << true;
    QTest::newRow("negative size: nested layout") << -1 << -5 << true;
    QTest::newRow("width 400") << 400 << 0 << false;
    QTest::newRow("height 40") << 0 << 40 << false;
    QTest::newRow("both") << 100 << 30 << false;
}

void TestXFactory::addVBox()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(bool, nested);

    QCOMPARE(xAddVBox(nullptr, 1, width, height, 0, 5), nullptr);

    QWidget host;
    QHBoxLayout* outer = xSetHBox(&host, 5, 5);
    QVBoxLayout* box = xAddVBox(outer, 2, width, height, 3, 7);
    QVERIFY(box);
    QCOMPARE(outer->count(), 1);
    QCOMPARE(outer->stretch(0), 2);
    QCOMPARE(box->spacing(), 7);
    QCOMPARE(box->contentsMargins(), QMargins(3, 3, 3, 3));
    if (nested) {
        QCOMPARE(outer->itemAt(0)->layout(), box);
        QVERIFY(host.findChildren<QWidget*>().isEmpty());
        return;
    }
    auto* holder = qobject_cast<XWidget*>(outer->itemAt(0)->widget());
    QVERIFY(holder);
    QCOMPARE(holder->layout(), box);
    QCOMPARE(holder->maximumWidth(), width > 0 ? width : QWIDGETSIZE_MAX);
    QCOMPARE(holder->maximumHeight(), height > 0 ? height : QWIDGETSIZE_MAX);
}

void TestXFactory::setBoxes()
{
    QScopedPointer<QVBoxLayout> loose(xSetVBox(nullptr, 4, 2));
    QCOMPARE(loose->contentsMargins(), QMargins(4, 4, 4, 4));
    QCOMPARE(loose->spacing(), 2);
    QCOMPARE(loose->parentWidget(), nullptr);

    QWidget host;
    QHBoxLayout* box = xSetHBox(&host, 0, 9);
    QCOMPARE(host.layout(), box);
    QCOMPARE(box->spacing(), 9);
}

void TestXFactory::messageHookAnswers()
{
    QWidget window;
    auto* edit = new QLineEdit(&window);
    auto* other = new QLineEdit(&window);
    window.show();
    QApplication::setActiveWindow(&window);
    other->setFocus();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    QString seenTitle;
    QString seenText;
    QWidget* seenFocus = nullptr;
    xSetMessageHook([&](const QString& title, const QString& text, QWidget* focusWidget) {
        seenTitle = title;
        seenText = text;
        seenFocus = focusWidget;
        return int(QMessageBox::Ok);
    });
    const int result = xShowMessage(QStringLiteral("错误提示"), QStringLiteral("text"), edit);
    xSetMessageHook(nullptr);

    QCOMPARE(result, int(QMessageBox::Ok));
    QCOMPARE(seenTitle, QStringLiteral("错误提示"));
    QCOMPARE(seenText, QStringLiteral("text"));
    QCOMPARE(seenFocus, edit);
    QTRY_VERIFY_WITH_TIMEOUT(edit->hasFocus(), 2000);

    // A focus widget that is gone by the time the box closes is left alone.
    auto* doomed = new QLineEdit(&window);
    xSetMessageHook([&](const QString&, const QString&, QWidget*) {
        delete doomed;
        return 0;
    });
    QCOMPARE(xShowMessage(QString(), QString(), doomed), 0);
    xSetMessageHook(nullptr);
}

// Without the hook the operator gets a modal information box with one "确定"
// button; closing it gives exec()'s result.
void TestXFactory::messageBoxAsShown()
{
    QString title;
    QString text;
    QString buttonText;
    int buttons = 0;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool modal = false;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&]() {
        auto* box = qobject_cast<XMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        poll.stop();
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        modal = box->isModal();
        buttons = box->buttons().size();
        QAbstractButton* ok = box->button(QMessageBox::Ok);
        if (ok != nullptr) {
            buttonText = ok->text();
            ok->click();
        } else {
            box->reject();
        }
    });
    poll.start(10);
    const int result = xShowMessage(QStringLiteral("错误提示"), QStringLiteral("请检查"), nullptr);
    QCOMPARE(result, int(QMessageBox::Ok));
    QCOMPARE(title, QStringLiteral("错误提示"));
    QCOMPARE(text, QStringLiteral("请检查"));
    QCOMPARE(icon, QMessageBox::Information);
    QVERIFY(modal);
    QCOMPARE(buttons, 1);
    QCOMPARE(buttonText, QStringLiteral("确定"));
}

void TestXFactory::stackInnerRect_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QRect>("expected");

    // Widget 200 x 100; margins 10, 20, 30, 40 (left, top, right, bottom);
    // offsets 5, -5; inner size 50 x 30.
    QTest::newRow("no anchor: centred") << 0x40 << QRect(75, 35, 50, 30);
    QTest::newRow("left") << 1 << QRect(10, 35, 50, 30);
    QTest::newRow("right") << 4 << QRect(120, 35, 50, 30);
    QTest::newRow("left and right stretch") << 5 << QRect(10, 35, 160, 30);
    QTest::newRow("top") << 2 << QRect(75, 20, 50, 30);
    QTest::newRow("bottom") << 8 << QRect(75, 30, 50, 30);
    QTest::newRow("top and bottom stretch") << 10 << QRect(75, 20, 50, 40);
    QTest::newRow("all four edges") << 15 << QRect(10, 20, 160, 40);
    QTest::newRow("centred with offsets") << 16 << QRect(80, 30, 50, 30);
    QTest::newRow("only the low five bits count") << 31 + 32 << QRect(80, 30, 50, 30);
}

void TestXFactory::stackInnerRect()
{
    QFETCH(int, mode);
    QFETCH(QRect, expected);

    XWidgetStack stack(nullptr, 0);
    stack.resize(200, 100);
    stack.placeMode = mode;
    stack.marginLeft = 10;
    stack.marginTop = 20;
    stack.marginRight = 30;
    stack.marginBottom = 40;
    stack.offsetX = 5;
    stack.offsetY = -5;
    stack.innerWidth = 50;
    stack.innerHeight = 30;
    QCOMPARE(stack.innerRect(), expected);
}

void TestXFactory::stackOutClick()
{
    XWidgetStack stack(nullptr, 0);
    stack.resize(200, 100);
    stack.innerWidth = 50;
    stack.innerHeight = 30;
    QSignalSpy spy(&stack, &XWidgetStack::outClick);
    QVERIFY(spy.isValid());
    stack.show();
    QVERIFY(QTest::qWaitForWindowExposed(&stack));

    // Mode 0 (and 32, whose low bits are 0) never reports.
    QTest::mouseClick(&stack, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    stack.placeMode = 32;
    QTest::mouseClick(&stack, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    QCOMPARE(spy.count(), 0);

    stack.placeMode = 16;
    QTest::mouseClick(&stack, Qt::LeftButton, Qt::NoModifier, QPoint(100, 50));
    QCOMPARE(spy.count(), 0);
    QTest::mouseClick(&stack, Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toInt(), int(Qt::RightButton));
}

// A square image in a wide widget: scaled to the height inside a one-pixel
// inset, centred, the sides left alone.
void TestXFactory::imageDrawnFitted()
{
    XWidget host(nullptr, 0);
    host.resize(100, 50);
    host.setXsBackground(QStringLiteral("rgb(0,0,255)"), 0, true);
    auto* image = new XWidgetImage(&host, 0);
    image->setGeometry(0, 0, 100, 50);
    image->imageBytes = pngOf(Qt::red, 10, 10);

    // Nothing is loaded until the flag asks for it.
    QImage shot = host.grab().toImage();
    QCOMPARE(shot.pixelColor(50, 25), QColor(0, 0, 255));

    image->loadImage = true;
    shot = host.grab().toImage();
    QVERIFY(!image->image.isNull());
    QCOMPARE(shot.pixelColor(50, 25), QColor(Qt::red));
    QCOMPARE(shot.pixelColor(50, 1), QColor(Qt::red));
    QCOMPARE(shot.pixelColor(50, 0), QColor(0, 0, 255));
    QCOMPARE(shot.pixelColor(50, 49), QColor(0, 0, 255));
    QCOMPARE(shot.pixelColor(10, 25), QColor(0, 0, 255));
    QCOMPARE(shot.pixelColor(90, 25), QColor(0, 0, 255));
}

void TestXFactory::imageBadBytesDrawNothing()
{
    XWidget host(nullptr, 0);
    host.resize(60, 60);
    host.setXsBackground(QStringLiteral("rgb(0,0,255)"), 0, true);
    auto* image = new XWidgetImage(&host, 0);
    image->setGeometry(0, 0, 60, 60);
    image->imagePath = QStringLiteral("/nonexistent/picture.png");
    image->imageBytes = QByteArray("\x89PNG garbage", 12);
    image->loadImage = true;
    const QImage shot = host.grab().toImage();
    QVERIFY(image->image.isNull());
    QCOMPARE(shot.pixelColor(30, 30), QColor(0, 0, 255));
}

void TestXFactory::drawCaptionAndImage()
{
    XWidget host(nullptr, 0);
    host.resize(100, 100);
    host.setXsBackground(QStringLiteral("white"), 0, true);
    auto* draw = new XWidgetDraw(&host, 0);
    draw->setGeometry(0, 0, 100, 100);
    draw->imageBytes = pngOf(Qt::green, 4, 2);
    draw->caption = QStringLiteral("a caption much too long to fit on one line of this widget");
    const QImage shot = host.grab().toImage();
    // Image 4:2 fitted to 98 x 49, centred vertically; the caption's text is
    // black over it in the middle band.
    QCOMPARE(shot.pixelColor(50, 10), QColor(Qt::white));
    QCOMPARE(shot.pixelColor(3, 40), QColor(Qt::green));
    int dark = 0;
    for (int x = 0; x < 100; ++x) {
        for (int y = 40; y < 60; ++y) {
            dark += shot.pixelColor(x, y).lightness() < 60 ? 1 : 0;
        }
    }
    QVERIFY(dark > 20);
}

void TestXFactory::listSignals()
{
    XViewList view(nullptr, 0);
    QSignalSpy viewSelected(&view, &XViewList::xRowSelected);
    QSignalSpy viewDouble(&view, &XViewList::xRowDblClick);
    QVERIFY(viewSelected.isValid() && viewDouble.isValid());
    QCOMPARE(view.itemModel()->columnCount(), 1);
    QCOMPARE(view.editTriggers(), QAbstractItemView::NoEditTriggers);
    for (const char* text : {"a", "b", "c"}) {
        view.itemModel()->appendRow(new QStandardItem(QString::fromLatin1(text)));
    }
    view.setCurrentIndex(view.itemModel()->index(2, 0));
    QCOMPARE(viewSelected.count(), 1);
    QCOMPARE(viewSelected.last().at(0).toInt(), 2);
    emit view.doubleClicked(view.itemModel()->index(1, 0));
    QCOMPARE(viewDouble.count(), 1);
    QCOMPARE(viewDouble.last().at(0).toInt(), 1);

    XAreaList area(nullptr, 0);
    QSignalSpy areaSelected(&area, &XAreaList::xRowSelected);
    QSignalSpy areaDouble(&area, &XAreaList::xRowDblClick);
    QVERIFY(areaSelected.isValid() && areaDouble.isValid());
    area.addItems({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    area.setCurrentRow(1);
    QCOMPARE(areaSelected.last().at(0).toInt(), 1);
    area.onDblClicked(nullptr);
    QCOMPARE(areaDouble.count(), 0);
    emit area.itemDoubleClicked(area.item(2));
    QCOMPARE(areaDouble.count(), 1);
    QCOMPARE(areaDouble.last().at(0).toInt(), 2);
}

QTEST_MAIN(TestXFactory)
#include "tst_xfactory.moc"
