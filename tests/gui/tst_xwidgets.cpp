// The styled widget toolkit: setters keep their bounds, factories refuse bad
// input.
#include "gui/xwidgets.h"

#include <QHBoxLayout>
#include <QtTest>

class TestXWidgets : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { xInstallFonts(); }

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
