#include "core/mysetting.h"
#include "gui/mainwindow.h"
#include "gui/xwidgets.h"

#include <QApplication>
#include <QFile>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTest>

// What only the window does: how it draws the controller's state (the road
// itself is tested without a window); and the styled widget toolkit: setters
// keep their bounds.
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
        // A bank of 128 modems, one with a long device path, one with a fault.
        for (int i = 0; i < 128; ++i) {
            PortState port;
            port.name =
                QStringLiteral("/dev/serial/by-id/usb-Quectel_Wireless_Solutions_EC25-%1-if02-port0").arg(i);
            port.stateText = QStringLiteral("AT响应异常,重试中...");
            port.device = QStringLiteral("86123456789%1").arg(1000 + i);
            port.sim = QStringLiteral("8986001234567890%1").arg(1000 + i);
            port.health.signal = i % 32;
            port.fault = i == 7 ? QStringLiteral("未插SIM卡") : QString();
            state.ports.append(port);
        }
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
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.size(), w.minimumSize());
        w.showState(state);
        QApplication::processEvents();

        QCOMPARE(w.lbConnState->text(), linkText);
        QCOMPARE(w.lbRecvTotal->text(), totalText);
        QVERIFY2(note.isEmpty() ? w.lbNote->text().isEmpty() : w.lbNote->text().startsWith(note),
                 qPrintable(w.lbNote->text()));
        QCOMPARE(w.btRequeue->isVisible(), failed > 0);

        // At the default size: one line per port, no column out of sight.
        QCOMPARE(w.portModel->rowCount(), 128);
        QVERIFY(!w.portView->horizontalScrollBar()->isVisible());
        QVERIFY(w.portView->columnWidth(1) >=
                w.portView->fontMetrics().horizontalAdvance(QStringLiteral("连接失败,重试中...")));
        QVERIFY(w.portView->visualRect(w.portModel->index(1, 0)).height() <
                2 * w.portView->fontMetrics().height());
        QCOMPARE(w.portModel->data(w.portModel->index(7, 2), Qt::UserRole).toInt(), 7);
        // A fault in red, its reason first in the tooltip.
        QCOMPARE(w.portModel->data(w.portModel->index(7, 6), Qt::ForegroundRole).value<QColor>(),
                 QColor(200, 0, 0));
        QVERIFY(!w.portModel->data(w.portModel->index(6, 6), Qt::ForegroundRole).isValid());
        QVERIFY(cell(w, 7, 4, Qt::ToolTipRole).startsWith(QStringLiteral("故障：未插SIM卡")));
        // The whole name, device and SIM numbers in the tooltip and the details.
        QString shown;
        xSetMessageHook([&shown](const QString&, const QString& text, QWidget*) {
            shown = text;
            return 0;
        });
        w.showPortDetails(w.portModel->index(9, 1));
        xSetMessageHook(nullptr);
        for (const QString& text :
             {state.ports.at(9).device, state.ports.at(9).sim, state.ports.at(9).name}) {
            QVERIFY2(shown.contains(text) && cell(w, 9, 0, Qt::ToolTipRole).contains(text),
                     qPrintable(shown));
        }
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
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
