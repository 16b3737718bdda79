#include "core/mysetting.h"
#include "gui/mainwindow.h"
#include "gui/xwidgets.h"

#include <QFile>
#include <QHBoxLayout>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>

// What only the window does: how it draws the controller's state (the road
// itself is tested without a window); and the styled widget toolkit: setters
// keep their bounds, factories refuse bad input.
class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    QString cell(MainWindow& w, int row, int column, int role = Qt::DisplayRole)
    {
        return w.portModel->data(w.portModel->index(row, column), role).toString();
    }

private slots:
    void initTestCase()
    {
        qputenv("APPDATA", dir.path().toUtf8());
        xInstallFonts();
    }

    void drawsTheState_data()
    {
        QTest::addColumn<int>("link");
        QTest::addColumn<bool>("storeOpen");
        QTest::addColumn<QString>("linkText");
        QTest::addColumn<QString>("totalText");
        QTest::addColumn<int>("failed");
        QTest::addColumn<QString>("note");

        QTest::newRow("connected over TLS, one message refused: the requeue command shows")
            << int(LinkUp) << true << "已连接（加密）\ndb2.example.org:3306"
            << "12" << 1 << "数据库拒收 1 条";
        QTest::newRow("store closed") << int(LinkOff) << false << "未连接"
                                      << "本地库无法打开" << 0 << QString();
    }

    void drawsTheState()
    {
        QFETCH(int, link);
        QFETCH(bool, storeOpen);
        QFETCH(QString, linkText);
        QFETCH(QString, totalText);
        QFETCH(int, failed);
        QFETCH(QString, note);

        MainWindow w;
        w.appStartTimer.stop();
        RoadState state;
        const QString longName =
            QStringLiteral("/dev/serial/by-id/usb-Quectel_Wireless_Solutions_EC25-if02-port0");
        const auto port = [](const QString& name, const QString& text, const QString& device,
                             const QString& sim, bool excluded) {
            PortState p;
            p.name = name, p.stateText = text, p.device = device, p.sim = sim, p.excluded = excluded;
            return p;
        };
        state.ports.append(port(QStringLiteral("COM3"), "工作中(0)...", "861234567890123", "8986001", false));
        state.ports.append(port(longName, "（排除）", "-", "-", true));
        state.link = link;
        state.storeOpen = storeOpen;
        state.storeError = storeOpen ? QString() : QStringLiteral("disk I/O error");
        state.total = 12;
        state.linkEncrypted = linkText.contains("加密");
        state.linkServer = linkText.section('\n', 1); // the server in use, under the state
        state.failed = failed;
        state.linkError =
            QStringLiteral("Table 'sms.smsserver_in' doesn't exist QMYSQL: Unable to execute (error 1146)");
        w.show();
        w.showState(state);

        QCOMPARE(w.portModel->rowCount(), 2);
        // A long port name is shown whole.
        QCOMPARE(cell(w, 1, 0), longName);
        QCOMPARE(w.lbConnState->text(), linkText);
        QCOMPARE(w.lbRecvTotal->text(), totalText);
        QVERIFY2(note.isEmpty() ? w.lbNote->text().isEmpty() : w.lbNote->text().startsWith(note),
                 qPrintable(w.lbNote->text()));
        QCOMPARE(w.btRequeue->isVisible(), failed > 0);
    }

    // The window runs on the defaults and tells the operator which file it could not read.
    void saysTheSettingsFileIsBroken()
    {
        QVERIFY(theSetting.loadIni());
        QFile ini(theSetting.iniPath());
        QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write("not a settings file\n") > 0);
        ini.close();
        QVERIFY(!theSetting.loadIni());
        QStringList shown;
        xSetMessageHook([&shown](const QString&, const QString& text, QWidget*) {
            shown << text;
            return 0;
        });
        MainWindow w;
        w.appStartTimer.stop();
        w.onAppStart();
        xSetMessageHook(nullptr);
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown.first().contains(theSetting.iniPath()), qPrintable(shown.first()));
    }

    // A state outside 0..19 is refused and writes nothing.
    void setterBounds()
    {
        const QString v = QStringLiteral("1px");
        for (int setter = 0; setter < 4; ++setter) {
            for (int state : {-1, 20, 19}) {
                XLabel label(nullptr, 0);
                const QString before = label.styleSheet();
                const bool result = setter == 0   ? label.setXsBackground(v, state, true)
                                    : setter == 1 ? label.setXsBorder(v, state, true)
                                    : setter == 2 ? label.setXsColor(v, state, true)
                                                  : label.setXsFont(v, state, true);
                QCOMPARE(result, state == 19);
                QCOMPARE(label.styleSheet(), before);
                const QString* arrays[] = {label.xsBackground, label.xsBorder, label.xsColor, label.xsFont};
                QCOMPARE(arrays[setter][19], state == 19 ? v : QString());
            }
        }
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

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
