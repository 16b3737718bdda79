// The styled widget toolkit: stylesheet text, setters, factories, the message
// box, and what the members paint and signal.
#include "gui/xwidgets.h"

#include <QApplication>
#include <QBuffer>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>

namespace {

QString rule(const QString& selector, const QString& lines)
{
    return selector + QStringLiteral(" {\n") + lines + QStringLiteral("}\n");
}

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

const char* const classNames[] = {
    "XWidget",     "XWidgetDraw",  "XWidgetImage",  "XWidgetStack", "XMainWindow", "XFrame",
    "XLabel",      "XComboBox",    "XComboBoxFont", "XDialog",      "XMessageBox", "XProgressBar",
    "XSlider",     "XButtonPush",  "XButtonCheck",  "XButtonRadio", "XButtonTool", "XSpinInt",
    "XSpinDouble", "XSpinDate",    "XSpinTime",     "XEditLine",    "XEditText",   "XViewList",
    "XViewTree",   "XViewTable",   "XAreaList",     "XAreaScroll",  "XDefBtColor", "XDefBtFont",
    "XDefBtImage", "XDefShowImage"};

} // namespace

class TestXWidgets : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { xInstallFonts(); }
    void createAndStyleEveryCode_data();
    void createAndStyleEveryCode();
    void propertyOrder();
    void checkBoxRules();
    void setterBounds_data();
    void setterBounds();
    void rulesStayOnTheirWidget();
    void fontResolvesToInstalledFamily();
    void factoriesRefuseBadInput();
    void addToLayout_data();
    void addToLayout();
    void messageHookAnswers();
    void messageBoxAsShown();
    void imageDrawnFitted_data();
    void imageDrawnFitted();
};

void TestXWidgets::createAndStyleEveryCode_data()
{
    QTest::addColumn<int>("type");
    for (int type = 1; type <= 32; ++type) {
        QTest::addRow("%d %s", type, classNames[type - 1]) << type;
    }
}

// Each code makes its class; a styled member builds its rules under its own
// class and object name: buttons normal, hover (state 2) and pressed (state
// 1), the others only the normal one.
void TestXWidgets::createAndStyleEveryCode()
{
    QFETCH(int, type);
    const QSet<int> plain{11, 12, 19, 20, 21};
    const QSet<int> buttons{14, 29, 30, 31, 32};
    const QSet<int> emptyAtStart{6, 7, 13, 18, 22, 24, 26, 27, 28};

    QWidget parent;
    QWidget* widget = xCreateAt(&parent, type, 1, 2, 30, 40, 7);
    QVERIFY(widget);
    QCOMPARE(widget->metaObject()->className(), classNames[type - 1]);
    QCOMPARE(widget->parentWidget(), &parent);
    QCOMPARE(widget->geometry(), QRect(1, 2, 30, 40));
    XStyle* style = dynamic_cast<XStyle*>(widget);
    QCOMPARE(style == nullptr, plain.contains(type));
    if (style == nullptr || type == 15) {
        return;
    }
    QCOMPARE(style->tag, 7);
    const QString selector = QLatin1String(classNames[type - 1]) + QLatin1Char('#') + widget->objectName();
    QVERIFY(widget->objectName().startsWith(QLatin1String("XS_")));
    if (emptyAtStart.contains(type)) {
        QCOMPARE(widget->styleSheet(), rule(selector, QString()));
    } else if (type < 29) {
        QCOMPARE(widget->styleSheet(), QString());
    }

    style->setXsBackground(QStringLiteral("white"), 0, false);
    style->setXsBorder(QStringLiteral("2px solid rgb(200,200,200)"), 0, false);
    style->setXsBorder(QStringLiteral("3px solid rgb(64,64,64)"), 1, false);
    // Stored without apply: the sheet changes only at the next apply.
    const QString before = widget->styleSheet();
    QCOMPARE(style->setXsBorder(QStringLiteral("1px solid rgb(128,128,128)"), 2, false), true);
    QCOMPARE(widget->styleSheet(), before);
    style->applyStyle();

    QString expected =
        rule(selector, QStringLiteral("border: 2px solid rgb(200,200,200);\nbackground: white;\n"));
    if (buttons.contains(type)) {
        expected +=
            rule(selector + QStringLiteral(":hover"),
                 QStringLiteral("border: 1px solid rgb(128,128,128);\n")) +
            rule(selector + QStringLiteral(":pressed"), QStringLiteral("border: 3px solid rgb(64,64,64);\n"));
    }
    QCOMPARE(widget->styleSheet(), expected);
}

void TestXWidgets::propertyOrder()
{
    XFrame frame(nullptr, 0);
    frame.xsBorderRadius[0] = QStringLiteral("4px");
    frame.xsBorderImage[0] = QStringLiteral("url(:/b.png)");
    frame.xsTextAlign[0] = QStringLiteral("left");
    frame.xsImage[0] = QStringLiteral("url(:/i.png)");
    frame.setXsFont(QStringLiteral("18px \"黑体\""), 0, false);
    frame.setXsColor(QStringLiteral("red"), 0, false);
    frame.setXsBackground(QStringLiteral("white"), 0, false);
    frame.setXsBorder(QStringLiteral("none"), 0, true);
    QCOMPARE(
        frame.styleSheet(),
        rule(QStringLiteral("XFrame#") + frame.objectName(),
             QStringLiteral("border-radius: 4px;\nborder-image: url(:/b.png);\nborder: none;\n"
                            "background: white;\ncolor: red;\ntext-align: left;\nfont: 18px \"黑体\";\n")));
    // An empty value drops its line.
    frame.setXsColor(QString(), 0, true);
    QVERIFY(!frame.styleSheet().contains(QLatin1String("color")));
}

void TestXWidgets::checkBoxRules()
{
    XButtonCheck check(nullptr, 0);
    QCOMPARE(check.styleSheet(), QString());
    check.xsImage[5] = QStringLiteral("url(:/on.png)");
    check.setXsColor(QStringLiteral("black"), 0, true);
    const QString s = QStringLiteral("XButtonCheck#") + check.objectName();
    QString expected = rule(s, QStringLiteral("color: black;\n")) + rule(s + "::indicator", QString());
    for (const char* suffix :
         {"unchecked", "unchecked:hover", "unchecked:pressed", "checked", "checked:hover", "checked:pressed",
          "indeterminate:hover", "indeterminate:pressed"}) {
        const bool on = qstrcmp(suffix, "checked") == 0;
        expected +=
            rule(s + "::indicator:" + suffix, on ? QStringLiteral("image: url(:/on.png);\n") : QString());
    }
    QCOMPARE(check.styleSheet(), expected);

    // The size comes from state 1, each image from its own state.
    check.xsWidth[1] = QStringLiteral("20px");
    check.xsHeight[1] = QStringLiteral("22px");
    check.xsImage[2] = QStringLiteral("url(:/off.png)");
    check.xsImage[9] = QStringLiteral("url(:/partial.png)");
    check.applyStyle();
    const QString sheet = check.styleSheet();
    QVERIFY(sheet.contains(rule(s + "::indicator", QStringLiteral("width: 20px;\nheight: 22px;\n"))));
    QVERIFY(sheet.contains(rule(s + "::indicator:unchecked", QStringLiteral("image: url(:/off.png);\n"))));
    QVERIFY(sheet.endsWith(rule(s + "::indicator:indeterminate:pressed", "image: url(:/partial.png);\n")));
}

void TestXWidgets::setterBounds_data()
{
    QTest::addColumn<int>("setter");
    QTest::addColumn<int>("state");
    const char* names[] = {"background", "border", "color", "font"};
    for (int setter = 0; setter < 4; ++setter) {
        QTest::addRow("%s -1", names[setter]) << setter << -1;
        QTest::addRow("%s 20", names[setter]) << setter << 20;
        QTest::addRow("%s 19", names[setter]) << setter << 19;
    }
}

void TestXWidgets::setterBounds()
{
    QFETCH(int, setter);
    QFETCH(int, state);

    XLabel label(nullptr, 0);
    const QString before = label.styleSheet();
    const QString v = QStringLiteral("1px");
    const bool result = setter == 0   ? label.setXsBackground(v, state, true)
                        : setter == 1 ? label.setXsBorder(v, state, true)
                        : setter == 2 ? label.setXsColor(v, state, true)
                                      : label.setXsFont(v, state, true);
    QCOMPARE(result, state == 19);
    QCOMPARE(label.styleSheet(), before);
    const QString* arrays[] = {label.xsBackground, label.xsBorder, label.xsColor, label.xsFont};
    QCOMPARE(arrays[setter][19], state == 19 ? v : QString());
}

// Every rule names its widget: a sibling of the same class and a child keep
// their own look.
void TestXWidgets::rulesStayOnTheirWidget()
{
    XWidget host(nullptr, 0);
    host.resize(200, 100);
    host.setXsBackground(QStringLiteral("rgb(0,0,255)"), 0, true);
    auto* red = new XWidget(&host, 0);
    red->setGeometry(0, 0, 100, 100);
    red->setXsBackground(QStringLiteral("rgb(255,0,0)"), 0, false);
    red->setXsBorder(QStringLiteral("4px solid rgb(0,255,0)"), 0, true);
    auto* child = new XWidget(red, 0);
    child->setGeometry(20, 20, 60, 60);
    auto* sibling = new XWidget(&host, 0);
    sibling->setGeometry(100, 0, 100, 100);
    sibling->setXsColor(QStringLiteral("black"), 0, true);

    const QImage shot = host.grab().toImage();
    QCOMPARE(shot.pixelColor(50, 1), QColor(0, 255, 0));
    QCOMPARE(shot.pixelColor(10, 50), QColor(255, 0, 0));
    QCOMPARE(shot.pixelColor(21, 21), QColor(255, 0, 0));
    QCOMPARE(shot.pixelColor(101, 1), QColor(0, 0, 255));
    QCOMPARE(shot.pixelColor(150, 50), QColor(0, 0, 255));
}

void TestXWidgets::fontResolvesToInstalledFamily()
{
#ifdef Q_OS_WIN
    QSKIP("Windows has the family itself");
#else
    QCOMPARE(xResolvedHeiti(), QStringLiteral("WenQuanYi Zen Hei"));
    XLabel label(nullptr, 0);
    label.setXsFont(QStringLiteral("18px \"黑体\""), 0, true);
    label.ensurePolished();
    QCOMPARE(label.font().pixelSize(), 18);
    QCOMPARE(QFontInfo(label.font()).family(), QStringLiteral("WenQuanYi Zen Hei"));
#endif
}

void TestXWidgets::factoriesRefuseBadInput()
{
    QWidget parent;
    QHBoxLayout* box = xSetHBox(&parent, 0, 0);
    for (int type : {0, 33, -1}) {
        QCOMPARE(xCreate(&parent, type, 0), nullptr);
        QCOMPARE(xCreateAt(&parent, type, 1, 2, 3, 4, 0), nullptr);
        QCOMPARE(xAddToLayout(box, type, 1, 10, 10, 0), nullptr);
    }
    QCOMPARE(xCreateAtAs<XButtonPush>(&parent, XTypeLabel, 0, 0, 1, 1), nullptr);
    QCOMPARE(box->count(), 0);
    QVERIFY(parent.findChildren<QWidget*>().isEmpty());
    QCOMPARE(xAddToLayout(nullptr, XTypeWidget, 1, 10, 10, 0), nullptr);
    QCOMPARE(xAddVBox(nullptr, 1, 100, 0, 0, 0), nullptr);
    QCOMPARE(xAddVBox(nullptr, 1, 0, 0, 0, 0), nullptr);
    QScopedPointer<QVBoxLayout> loose(xSetVBox(nullptr, 4, 2));
    QCOMPARE(loose->contentsMargins(), QMargins(4, 4, 4, 4));
    QCOMPARE(loose->spacing(), 2);
}

void TestXWidgets::addToLayout_data()
{
    QTest::addColumn<bool>("box");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");

    QTest::newRow("widget of fixed width") << false << 80 << 0;
    QTest::newRow("widget of fixed height") << false << -1 << 40;
    QTest::newRow("vbox without size: nested layout") << true << 0 << 0;
    QTest::newRow("vbox with negative size: nested layout") << true << -1 << -5;
    QTest::newRow("vbox of width 400") << true << 400 << 0;
    QTest::newRow("vbox of width and height") << true << 100 << 30;
}

void TestXWidgets::addToLayout()
{
    QFETCH(bool, box);
    QFETCH(int, width);
    QFETCH(int, height);

    QWidget host;
    QHBoxLayout* outer = xSetHBox(&host, 5, 6);
    QCOMPARE(host.layout(), outer);
    QCOMPARE(outer->spacing(), 6);
    QWidget* widget = nullptr;
    if (box) {
        QVBoxLayout* inner = xAddVBox(outer, 2, width, height, 3, 7);
        QVERIFY(inner);
        QCOMPARE(inner->spacing(), 7);
        QCOMPARE(inner->contentsMargins(), QMargins(3, 3, 3, 3));
        if (width < 1 && height < 1) {
            QCOMPARE(outer->itemAt(0)->layout(), inner);
            QVERIFY(host.findChildren<QWidget*>().isEmpty());
            return;
        }
        widget = qobject_cast<XWidget*>(outer->itemAt(0)->widget());
        QVERIFY(widget);
        QCOMPARE(widget->layout(), inner);
    } else {
        widget = xAddToLayout(outer, XTypeButtonPush, 2, width, height, 0);
        QVERIFY(qobject_cast<XButtonPush*>(widget));
    }
    QCOMPARE(outer->count(), 1);
    QCOMPARE(outer->stretch(0), 2);
    QCOMPARE(widget->parentWidget(), &host);
    QCOMPARE(widget->maximumWidth(), width > 0 ? width : QWIDGETSIZE_MAX);
    QCOMPARE(widget->minimumWidth(), width > 0 ? width : 0);
    QCOMPARE(widget->maximumHeight(), height > 0 ? height : QWIDGETSIZE_MAX);
}

void TestXWidgets::messageHookAnswers()
{
    QWidget window;
    auto* edit = new QLineEdit(&window);
    auto* other = new QLineEdit(&window);
    window.show();
    QApplication::setActiveWindow(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window));
    other->setFocus();

    QStringList seen;
    xSetMessageHook([&](const QString& title, const QString& text, QWidget* focusWidget) {
        seen << title << text << (focusWidget == edit ? "edit" : "?");
        return int(QMessageBox::Ok);
    });
    QCOMPARE(xShowMessage(QStringLiteral("错误提示"), QStringLiteral("text"), edit), int(QMessageBox::Ok));
    QCOMPARE(seen, QStringList({QStringLiteral("错误提示"), QStringLiteral("text"), QStringLiteral("edit")}));
    QTRY_VERIFY_WITH_TIMEOUT(edit->hasFocus(), 2000);

    xSetMessageHook(nullptr);
}

// Without the hook the operator gets a modal information box with one "确定"
// button; closing it gives exec()'s result.
void TestXWidgets::messageBoxAsShown()
{
    QStringList seen;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&]() {
        auto* box = qobject_cast<XMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) {
            return;
        }
        poll.stop();
        QAbstractButton* ok = box->button(QMessageBox::Ok);
        seen << box->windowTitle() << box->text() << QString::number(box->buttons().size())
             << (ok ? ok->text() : QString()) << QString::number(box->icon() == QMessageBox::Information)
             << QString::number(box->isModal());
        ok ? ok->click() : box->reject();
    });
    poll.start(10);
    QCOMPARE(xShowMessage(QStringLiteral("错误提示"), QStringLiteral("请检查"), nullptr),
             int(QMessageBox::Ok));
    QCOMPARE(seen, QStringList({QStringLiteral("错误提示"), QStringLiteral("请检查"), QStringLiteral("1"),
                                QStringLiteral("确定"), QStringLiteral("1"), QStringLiteral("1")}));
}

void TestXWidgets::imageDrawnFitted_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("drawn");
    QTest::newRow("square image") << pngOf(Qt::red, 10, 10) << true;
    QTest::newRow("bytes that are no image") << QByteArray("\x89PNG garbage") << false;
}

// A square image in a wide widget is scaled to the height inside a one-pixel
// inset and centred; the sides keep the background.
void TestXWidgets::imageDrawnFitted()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, drawn);

    XWidget host(nullptr, 0);
    host.resize(100, 50);
    host.setXsBackground(QStringLiteral("rgb(0,0,255)"), 0, true);
    auto* image = new XWidgetImage(&host, 0);
    image->setGeometry(0, 0, 100, 50);
    image->imagePath = QStringLiteral("/nonexistent/picture.png");
    image->imageBytes = bytes;
    const QColor blue(0, 0, 255);
    // Nothing is loaded until the flag asks for it.
    QCOMPARE(host.grab().toImage().pixelColor(50, 25), blue);

    image->loadImage = true;
    const QImage shot = host.grab().toImage();
    const QColor inside = drawn ? QColor(Qt::red) : blue;
    QCOMPARE(shot.pixelColor(50, 25), inside);
    QCOMPARE(shot.pixelColor(50, 1), inside);
    QCOMPARE(shot.pixelColor(50, 0), blue);
    QCOMPARE(shot.pixelColor(50, 49), blue);
    QCOMPARE(shot.pixelColor(10, 25), blue);
    QCOMPARE(shot.pixelColor(90, 25), blue);
}

QTEST_MAIN(TestXWidgets)
#include "tst_xwidgets.moc"
