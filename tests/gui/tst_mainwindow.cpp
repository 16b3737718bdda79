#include "core/mysetting.h"
#include "gui/mainwindow.h"
#include "gui/xbuttons.h"
#include "gui/xfactory.h"
#include "gui/xinputs.h"
#include "gui/xviews.h"

#include <QFile>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>

// What only the window does: how it draws the controller's state. The road
// itself is tested without a window.
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
    void initTestCase() { qputenv("APPDATA", dir.path().toUtf8()); }

    void drawsTheState_data()
    {
        QTest::addColumn<int>("link");
        QTest::addColumn<bool>("storeOpen");
        QTest::addColumn<QString>("linkText");
        QTest::addColumn<QString>("totalText");
        QTest::addColumn<int>("failed");
        QTest::addColumn<QString>("note");

        QTest::newRow("connected over TLS, one message refused: the requeue command shows")
            << int(LinkUp) << true << "已连接（加密）"
            << "12" << 1 << "数据库拒收 1 条";
        QTest::newRow("third second of the countdown, with its reason") << 92 << true << "准备再次尝试:3"
                                                                        << "12" << 0 << "原因：Table";
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
        state.ports.append({QStringLiteral("COM3"), "工作中(0)...", "861234567890123", "8986001", false});
        state.ports.append({longName, "（排除）", "-", "-", true});
        state.link = link;
        state.storeOpen = storeOpen;
        state.storeError = storeOpen ? QString() : QStringLiteral("disk I/O error");
        state.total = 12;
        state.linkEncrypted = linkText.contains("加密");
        state.failed = failed;
        state.linkError =
            QStringLiteral("Table 'sms.smsserver_in' doesn't exist QMYSQL: Unable to execute (error 1146)");
        w.show();
        w.showState(state);

        QCOMPARE(w.portModel->rowCount(), 2);
        // A long port name is shown whole, or at least in its tooltip.
        QCOMPARE(cell(w, 1, 0), longName);
        QCOMPARE(cell(w, 1, 0, Qt::ToolTipRole), longName);
        QCOMPARE(w.lbConnState->text(), linkText);
        QCOMPARE(w.lbRecvTotal->text(), totalText);
        QVERIFY2(note.isEmpty() ? w.lbNote->text().isEmpty() : w.lbNote->text().startsWith(note),
                 qPrintable(w.lbNote->text()));
        QCOMPARE(w.btRequeue->isVisible(), failed > 0);
        QVERIFY(w.lbNote->toolTip().contains(note));

        // Fewer ports later: the table shrinks with the state.
        state.ports.removeLast();
        w.showState(state);
        QCOMPARE(w.portModel->rowCount(), 1);
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
        w.close();
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
