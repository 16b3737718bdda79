// The styled widget toolkit: each code makes its class, rules stay on their
// widget, setters keep their bounds, factories refuse bad input.
#include "gui/xwidgets.h"

#include <QHBoxLayout>
#include <QtTest>

namespace {

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

    void createAndStyleEveryCode_data()
    {
        QTest::addColumn<int>("type");
        for (int type = 1; type <= 32; ++type) {
            QTest::addRow("%d %s", type, classNames[type - 1]) << type;
        }
    }

    // Each code makes its class; a styled member names its own class and object
    // in its rules: buttons get hover (state 2) and pressed (state 1) rules too.
    void createAndStyleEveryCode()
    {
        QFETCH(int, type);
        QWidget parent;
        QWidget* widget = xCreateAt(&parent, type, 1, 2, 30, 40, 7);
        QVERIFY(widget);
        QCOMPARE(widget->metaObject()->className(), classNames[type - 1]);
        QCOMPARE(widget->geometry(), QRect(1, 2, 30, 40));
        XStyle* style = dynamic_cast<XStyle*>(widget);
        QCOMPARE(style == nullptr, QSet<int>({11, 12, 19, 20, 21}).contains(type));
        if (style == nullptr || type == 15) {
            return;
        }
        style->setXsBorder(QStringLiteral("2px solid red"), 0, false);
        style->setXsBorder(QStringLiteral("1px solid blue"), 2, false);
        style->applyStyle();
        const QString selector =
            QLatin1String(classNames[type - 1]) + QLatin1Char('#') + widget->objectName();
        QVERIFY(widget->styleSheet().startsWith(selector + " {\nborder: 2px solid red;\n"));
        QCOMPARE(widget->styleSheet().contains(selector + ":hover {\nborder: 1px solid blue;\n}\n"),
                 QSet<int>({14, 29, 30, 31, 32}).contains(type));
    }

    void setterBounds_data()
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

    void setterBounds()
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

    void factoriesRefuseBadInput()
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
    }
};

QTEST_MAIN(TestXWidgets)
#include "tst_xwidgets.moc"
