// Stylesheet text of the styled widgets, the setters' bounds, and what the
// rules do once Qt renders them.
#include "widgets/xwidgets.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QtTest>

namespace {

XStyle* styleOf(QWidget* widget)
{
    return dynamic_cast<XStyle*>(widget);
}

QString rule(const QString& selector, const QString& lines)
{
    return selector + QStringLiteral(" {\n") + lines + QStringLiteral("}\n");
}

} // namespace

class TestXStyle : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void normalRule_data();
    void normalRule();
    void propertyOrder();
    void buttonRules_data();
    void buttonRules();
    void checkBoxRules();
    void setterBounds_data();
    void setterBounds();
    void emptyValueDropsLine();
    void rulesStayOnTheirWidget();
    void fontResolvesToInstalledFamily();
};

void TestXStyle::initTestCase()
{
    xInstallFonts();
}

void TestXStyle::normalRule_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("className");
    QTest::addColumn<bool>("sheetAtStart");

    QTest::newRow("XWidget") << int(XTypeWidget) << "XWidget" << false;
    QTest::newRow("XWidgetDraw") << int(XTypeWidgetDraw) << "XWidgetDraw" << false;
    QTest::newRow("XWidgetImage") << int(XTypeWidgetImage) << "XWidgetImage" << false;
    QTest::newRow("XWidgetStack") << int(XTypeWidgetStack) << "XWidgetStack" << false;
    QTest::newRow("XMainWindow") << int(XTypeMainWindow) << "XMainWindow" << false;
    QTest::newRow("XFrame") << int(XTypeFrame) << "XFrame" << true;
    QTest::newRow("XLabel") << int(XTypeLabel) << "XLabel" << true;
    QTest::newRow("XComboBox") << int(XTypeComboBox) << "XComboBox" << false;
    QTest::newRow("XComboBoxFont") << int(XTypeComboBoxFont) << "XComboBoxFont" << false;
    QTest::newRow("XDialog") << int(XTypeDialog) << "XDialog" << false;
    QTest::newRow("XSlider") << int(XTypeSlider) << "XSlider" << true;
    QTest::newRow("XButtonRadio") << int(XTypeButtonRadio) << "XButtonRadio" << false;
    QTest::newRow("XButtonTool") << int(XTypeButtonTool) << "XButtonTool" << false;
    QTest::newRow("XSpinInt") << int(XTypeSpinInt) << "XSpinInt" << true;
    QTest::newRow("XEditLine") << int(XTypeEditLine) << "XEditLine" << true;
    QTest::newRow("XEditText") << int(XTypeEditText) << "XEditText" << false;
    QTest::newRow("XViewList") << int(XTypeViewList) << "XViewList" << true;
    QTest::newRow("XViewTree") << int(XTypeViewTree) << "XViewTree" << false;
    QTest::newRow("XViewTable") << int(XTypeViewTable) << "XViewTable" << true;
    QTest::newRow("XAreaList") << int(XTypeAreaList) << "XAreaList" << true;
    QTest::newRow("XAreaScroll") << int(XTypeAreaScroll) << "XAreaScroll" << true;
}

// One rule for the normal state, under the member's own class and object name.
void TestXStyle::normalRule()
{
    QFETCH(int, type);
    QFETCH(QString, className);
    QFETCH(bool, sheetAtStart);

    QScopedPointer<QWidget> widget(xCreate(nullptr, type, 0));
    QVERIFY(widget);
    XStyle* style = styleOf(widget.data());
    QVERIFY(style);
    const QString selector = className + QLatin1Char('#') + widget->objectName();
    QVERIFY(widget->objectName().startsWith(QLatin1String("XS_")));
    QCOMPARE(widget->styleSheet(), sheetAtStart ? rule(selector, QString()) : QString());

    QVERIFY(style->setXsBackground(QStringLiteral("white"), 0, true));
    QCOMPARE(widget->styleSheet(), selector + QStringLiteral(" {\nbackground: white;\n}\n"));

    // Stored without apply: the sheet keeps its old text until the next apply.
    QVERIFY(style->setXsColor(QStringLiteral("black"), 0, false));
    QCOMPARE(widget->styleSheet(), rule(selector, QStringLiteral("background: white;\n")));
    style->applyStyle();
    QCOMPARE(widget->styleSheet(), rule(selector, QStringLiteral("background: white;\ncolor: black;\n")));

    // Values of other states never reach a member that has only the normal rule.
    QVERIFY(style->setXsBorder(QStringLiteral("1px solid red"), 2, true));
    QCOMPARE(widget->styleSheet(), rule(selector, QStringLiteral("background: white;\ncolor: black;\n")));
}

void TestXStyle::propertyOrder()
{
    XFrame frame(nullptr, 0);
    frame.xsBorderRadius[0] = QStringLiteral("4px");
    frame.xsBorderImage[0] = QStringLiteral("url(:/b.png)");
    frame.xsTextAlign[0] = QStringLiteral("left");
    frame.xsImage[0] = QStringLiteral("url(:/i.png)");
    frame.xsWidth[0] = QStringLiteral("10px");
    frame.setXsFont(QStringLiteral("18px \"黑体\""), 0, false);
    frame.setXsColor(QStringLiteral("red"), 0, false);
    frame.setXsBackground(QStringLiteral("white"), 0, false);
    frame.setXsBorder(QStringLiteral("none"), 0, true);
    QCOMPARE(frame.styleRule(0), QStringLiteral("border-radius: 4px;\n"
                                                "border-image: url(:/b.png);\n"
                                                "border: none;\n"
                                                "background: white;\n"
                                                "color: red;\n"
                                                "text-align: left;\n"
                                                "font: 18px \"黑体\";\n"));
    QCOMPARE(frame.styleRule(-1), QString());
    QCOMPARE(frame.styleRule(20), QString());
}

void TestXStyle::buttonRules_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("className");

    QTest::newRow("XButtonPush") << int(XTypeButtonPush) << "XButtonPush";
    QTest::newRow("XDefBtColor") << int(XTypeDefBtColor) << "XDefBtColor";
    QTest::newRow("XDefBtFont") << int(XTypeDefBtFont) << "XDefBtFont";
    QTest::newRow("XDefBtImage") << int(XTypeDefBtImage) << "XDefBtImage";
    QTest::newRow("XDefShowImage") << int(XTypeDefShowImage) << "XDefShowImage";
}

// Normal from state 0, hover from state 2, pressed from state 1.
void TestXStyle::buttonRules()
{
    QFETCH(int, type);
    QFETCH(QString, className);

    QScopedPointer<QWidget> widget(xCreate(nullptr, type, 0));
    XStyle* style = styleOf(widget.data());
    QVERIFY(style);
    style->setXsBackground(QStringLiteral("white"), 0, false);
    style->setXsBorder(QStringLiteral("2px solid rgb(200,200,200)"), 0, false);
    style->setXsBorder(QStringLiteral("3px solid rgb(64,64,64)"), 1, false);
    style->setXsBorder(QStringLiteral("1px solid rgb(128,128,128)"), 2, true);

    const QString selector = className + QLatin1Char('#') + widget->objectName();
    QCOMPARE(widget->styleSheet(),
             rule(selector, QStringLiteral("border: 2px solid rgb(200,200,200);\nbackground: white;\n")) +
                 rule(selector + QStringLiteral(":hover"),
                      QStringLiteral("border: 1px solid rgb(128,128,128);\n")) +
                 rule(selector + QStringLiteral(":pressed"),
                      QStringLiteral("border: 3px solid rgb(64,64,64);\n")));
}

void TestXStyle::checkBoxRules()
{
    XButtonCheck check(nullptr, 0);
    QCOMPARE(check.styleSheet(), QString());
    check.xsImage[5] = QStringLiteral("url(:/on.png)");
    check.setXsColor(QStringLiteral("black"), 0, true);

    const QString s = QStringLiteral("XButtonCheck#") + check.objectName();
    const QString expected = rule(s, QStringLiteral("color: black;\n")) + rule(s + "::indicator", QString()) +
                             rule(s + "::indicator:unchecked", QString()) +
                             rule(s + "::indicator:unchecked:hover", QString()) +
                             rule(s + "::indicator:unchecked:pressed", QString()) +
                             rule(s + "::indicator:checked", QStringLiteral("image: url(:/on.png);\n")) +
                             rule(s + "::indicator:checked:hover", QString()) +
                             rule(s + "::indicator:checked:pressed", QString()) +
                             rule(s + "::indicator:indeterminate:hover", QString()) +
                             rule(s + "::indicator:indeterminate:pressed", QString());
    QCOMPARE(check.styleSheet(), expected);

    // The indicator size comes from state 1; each image from its own state.
    check.xsWidth[1] = QStringLiteral("20px");
    check.xsHeight[1] = QStringLiteral("22px");
    check.xsImage[2] = QStringLiteral("url(:/off.png)");
    check.xsImage[9] = QStringLiteral("url(:/partial.png)");
    check.applyStyle();
    const QString sheet = check.styleSheet();
    QVERIFY(sheet.contains(rule(s + "::indicator", QStringLiteral("width: 20px;\nheight: 22px;\n"))));
    QVERIFY(sheet.contains(rule(s + "::indicator:unchecked", QStringLiteral("image: url(:/off.png);\n"))));
    QVERIFY(sheet.endsWith(
        rule(s + "::indicator:indeterminate:pressed", QStringLiteral("image: url(:/partial.png);\n"))));
    QCOMPARE(sheet.count(QStringLiteral(" {\n")), 10);
}

void TestXStyle::setterBounds_data()
{
    QTest::addColumn<int>("setter");
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("accepted");

    const char* names[] = {"background", "border", "color", "font"};
    for (int setter = 0; setter < 4; ++setter) {
        QTest::addRow("%s state -1", names[setter]) << setter << -1 << false;
        QTest::addRow("%s state 0", names[setter]) << setter << 0 << true;
        QTest::addRow("%s state 19", names[setter]) << setter << 19 << true;
        QTest::addRow("%s state 20", names[setter]) << setter << 20 << false;
    }
}

void TestXStyle::setterBounds()
{
    QFETCH(int, setter);
    QFETCH(int, state);
    QFETCH(bool, accepted);

    XButtonPush button(nullptr, 0);
    button.setXsBackground(QStringLiteral("white"), 0, true);
    const QString before = button.styleSheet();
    const QString value = QStringLiteral("1px");
    bool result = false;
    QString* values = nullptr;
    switch (setter) {
    case 0:
        result = button.setXsBackground(value, state, true);
        values = button.xsBackground;
        break;
    case 1:
        result = button.setXsBorder(value, state, true);
        values = button.xsBorder;
        break;
    case 2:
        result = button.setXsColor(value, state, true);
        values = button.xsColor;
        break;
    default:
        result = button.setXsFont(value, state, true);
        values = button.xsFont;
        break;
    }
    QCOMPARE(result, accepted);
    if (accepted) {
        QCOMPARE(values[state], value);
        QVERIFY(button.styleSheet() != before || state >= 3);
    } else {
        QCOMPARE(button.styleSheet(), before);
        for (int i = 1; i < XStyle::StateCount; ++i) {
            QVERIFY(values[i].isEmpty());
        }
    }
}

void TestXStyle::emptyValueDropsLine()
{
    XLabel label(nullptr, 0);
    label.setXsColor(QStringLiteral("red"), 0, false);
    label.setXsFont(QStringLiteral("12px"), 0, true);
    label.setXsColor(QString(), 0, true);
    QCOMPARE(label.styleSheet(),
             rule(QStringLiteral("XLabel#") + label.objectName(), QStringLiteral("font: 12px;\n")));
}

// Every rule names its widget: a sibling of the same class and a child keep
// their own look.
void TestXStyle::rulesStayOnTheirWidget()
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

    auto* plain = new XWidget(&host, 0);
    plain->setGeometry(100, 0, 100, 100);
    plain->setXsColor(QStringLiteral("black"), 0, true);

    QVERIFY(red->objectName() != plain->objectName());
    QVERIFY(child->objectName() != red->objectName());

    const QImage shot = host.grab().toImage();
    QCOMPARE(shot.pixelColor(50, 1), QColor(0, 255, 0));
    QCOMPARE(shot.pixelColor(10, 50), QColor(255, 0, 0));
    // The child neither repeats the green border nor paints a background.
    QCOMPARE(shot.pixelColor(21, 21), QColor(255, 0, 0));
    QCOMPARE(shot.pixelColor(50, 50), QColor(255, 0, 0));
    // The sibling of the same class shows the host's blue through.
    QCOMPARE(shot.pixelColor(150, 50), QColor(0, 0, 255));
    QCOMPARE(shot.pixelColor(101, 1), QColor(0, 0, 255));
}

void TestXStyle::fontResolvesToInstalledFamily()
{
#ifdef Q_OS_WIN
    QSKIP("Windows has the family itself");
#else
    QCOMPARE(xResolvedHeiti(), QStringLiteral("WenQuanYi Zen Hei"));
    XLabel label(nullptr, 0);
    label.setText(QStringLiteral("短信接收总数："));
    label.setXsFont(QStringLiteral("18px \"黑体\""), 0, true);
    label.ensurePolished();
    QCOMPARE(label.font().pixelSize(), 18);
    QCOMPARE(QFontInfo(label.font()).family(), QStringLiteral("WenQuanYi Zen Hei"));
#endif
}

QTEST_MAIN(TestXStyle)
#include "tst_xstyle.moc"
