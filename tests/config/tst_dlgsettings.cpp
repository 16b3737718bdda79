// The serial and MySQL settings dialogs: what they show, what OK writes, and
// what cancel leaves alone.
#include "config/dlgsetcomm.h"
#include "config/dlgsetmysql.h"
#include "config/mysetting.h"
#include "widgets/xwidgets.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes one key straight into settings.ini, as an operator editing it by hand.
void writeKey(const QString& key, const QVariant& value)
{
    QSettings ini(theSetting.iniPath(), QSettings::IniFormat);
    ini.setValue(key, value);
}

QVariant readKey(const QString& key)
{
    QSettings ini(theSetting.iniPath(), QSettings::IniFormat);
    return ini.value(key);
}

XButtonPush* buttonNamed(QWidget* dialog, const QString& text)
{
    for (XButtonPush* button : dialog->findChildren<XButtonPush*>()) {
        if (button->text() == text) {
            return button;
        }
    }
    return nullptr;
}

// Every label and button shows its whole text in its box.
void verifyTextsFit(QWidget* dialog, const char* shotName)
{
    dialog->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
        QVERIFY2(label->sizeHint().width() <= label->width(), qPrintable(label->text()));
        QVERIFY2(label->sizeHint().height() <= label->height(), qPrintable(label->text()));
    }
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        QVERIFY2(button->sizeHint().width() <= button->width(), qPrintable(button->text()));
    }
    const QByteArray shots = qgetenv("VLSMS_SHOT_DIR");
    if (!shots.isEmpty()) {
        dialog->grab().save(QString::fromLocal8Bit(shots) + QLatin1Char('/') + QLatin1String(shotName));
    }
}

} // namespace

class TestDlgSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void commShowsSettings_data();
    void commShowsSettings();
    void commOkWrites_data();
    void commOkWrites();
    void commOkUnchangedLeavesFile();
    void commCancelAndClose_data();
    void commCancelAndClose();

    void mysqlShowsSettings();
    void mysqlOkWrites_data();
    void mysqlOkWrites();
    void mysqlOkUnchangedLeavesFile();
    void mysqlPortTakesDigitsOnly();
    void mysqlCancel();

    void longHandWrittenValuesSurvive();
    void textsFit();

private:
    QScopedPointer<QTemporaryDir> dir;
};

void TestDlgSettings::initTestCase()
{
    xInstallFonts();
}

void TestDlgSettings::init()
{
    dir.reset(new QTemporaryDir);
    QVERIFY(dir->isValid());
    qputenv("APPDATA", dir->path().toLocal8Bit());
    // A fresh file with every default.
    theSetting.loadIni();
    theSetting.ignorePorts = QStringLiteral("COM1");
    theSetting.saveIni();
    QVERIFY(QFile::exists(theSetting.iniPath()));
}

void TestDlgSettings::cleanup()
{
    dir.reset();
}

void TestDlgSettings::commShowsSettings_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("flow");
    QTest::addColumn<QString>("ignore");
    QTest::addColumn<int>("index");

    QTest::newRow("115200, flow on") << 115200 << 1 << "COM1,COM3" << 1;
    QTest::newRow("9600, flow off") << 9600 << 0 << "" << 0;
    QTest::newRow("another rate shows 9600") << 57600 << 0 << "COM2" << 0;
}

void TestDlgSettings::commShowsSettings()
{
    QFETCH(int, baud);
    QFETCH(int, flow);
    QFETCH(QString, ignore);
    QFETCH(int, index);

    theSetting.baudRate = baud;
    theSetting.flowControl = flow;
    theSetting.ignorePorts = ignore;
    DlgSetComm dlg(nullptr);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("请选择硬件连接参数"));
    QCOMPARE(dlg.size(), QSize(500, 280));
    QCOMPARE(dlg.baudBox()->count(), 2);
    QCOMPARE(dlg.baudBox()->itemText(0), QStringLiteral("9600"));
    QCOMPARE(dlg.baudBox()->itemText(1), QStringLiteral("115200"));
    QCOMPARE(dlg.baudBox()->currentIndex(), index);
    QCOMPARE(dlg.flowCheck()->isChecked(), flow != 0);
    QCOMPARE(dlg.ignoreEdit()->text(), ignore);
    QCOMPARE(dlg.ignoreEdit()->maxLength(), 300);
}

void TestDlgSettings::commOkWrites_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("flow");
    QTest::addColumn<QString>("ignore");

    QTest::newRow("baud rate") << 0 << false << "COM1" << 9600 << 0 << "COM1";
    QTest::newRow("flow control") << 1 << true << "COM1" << 115200 << 1 << "COM1";
    QTest::newRow("ports trimmed") << 1 << false << "  COM1,COM5 " << 115200 << 0 << "COM1,COM5";
    QTest::newRow("blanks only stored empty") << 1 << false << "   " << 115200 << 0 << "";
}

void TestDlgSettings::commOkWrites()
{
    QFETCH(int, index);
    QFETCH(bool, checked);
    QFETCH(QString, typed);
    QFETCH(int, baud);
    QFETCH(int, flow);
    QFETCH(QString, ignore);

    QFile::remove(theSetting.iniPath());
    DlgSetComm dlg(nullptr);
    dlg.baudBox()->setCurrentIndex(index);
    dlg.flowCheck()->setChecked(checked);
    dlg.ignoreEdit()->setText(typed);
    QTest::mouseClick(buttonNamed(&dlg, QStringLiteral("确定")), Qt::LeftButton);

    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(theSetting.baudRate, baud);
    QCOMPARE(theSetting.flowControl, flow);
    QCOMPARE(theSetting.ignorePorts, ignore);
    // The whole file is written, not only the changed key.
    QCOMPARE(readKey(QStringLiteral("DEF_BAUD")).toInt(), baud);
    QCOMPARE(readKey(QStringLiteral("DEF_FLOW")).toInt(), flow);
    QCOMPARE(readKey(QStringLiteral("DEF_IGNORE")).toString(), ignore);
    QCOMPARE(readKey(QStringLiteral("DEF_SPEED")).toInt(), 200);
    QCOMPARE(readKey(QStringLiteral("MYSQL_DBNAME")).toString(), QStringLiteral("smsserver"));
    QCOMPARE(readKey(QStringLiteral("CARD/NUM")).toInt(), 0);
    QCOMPARE(QFile::permissions(theSetting.iniPath()) & 0x0077, QFileDevice::Permissions());
}

void TestDlgSettings::commOkUnchangedLeavesFile()
{
    // Values that only memory corrected (57600 loads as 9600) stay in the file too.
    writeKey(QStringLiteral("DEF_BAUD"), 57600);
    theSetting.loadIni();
    QCOMPARE(theSetting.baudRate, 9600);
    const QByteArray before = fileBytes(theSetting.iniPath());
    const QDateTime stamp = QFileInfo(theSetting.iniPath()).lastModified();

    DlgSetComm dlg(nullptr);
    dlg.ignoreEdit()->setText(QStringLiteral(" COM1 "));
    dlg.onBtOk();
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(fileBytes(theSetting.iniPath()), before);
    QCOMPARE(QFileInfo(theSetting.iniPath()).lastModified(), stamp);
}

void TestDlgSettings::commCancelAndClose_data()
{
    QTest::addColumn<bool>("byCloseButton");
    QTest::newRow("cancel") << false;
    QTest::newRow("window close") << true;
}

void TestDlgSettings::commCancelAndClose()
{
    QFETCH(bool, byCloseButton);

    const QByteArray before = fileBytes(theSetting.iniPath());
    DlgSetComm dlg(nullptr);
    QVERIFY(dlg.windowFlags() & Qt::WindowCloseButtonHint);
    dlg.show();
    dlg.baudBox()->setCurrentIndex(0);
    dlg.flowCheck()->setChecked(true);
    dlg.ignoreEdit()->setText(QStringLiteral("COM9"));
    if (byCloseButton) {
        dlg.close();
    } else {
        QTest::mouseClick(buttonNamed(&dlg, QStringLiteral("取消")), Qt::LeftButton);
    }
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    QCOMPARE(theSetting.baudRate, 115200);
    QCOMPARE(theSetting.flowControl, 0);
    QCOMPARE(theSetting.ignorePorts, QStringLiteral("COM1"));
    QCOMPARE(fileBytes(theSetting.iniPath()), before);
}

void TestDlgSettings::mysqlShowsSettings()
{
    theSetting.mysqlHost = QStringLiteral("db.example");
    theSetting.mysqlPort = 3307;
    theSetting.mysqlUser = QStringLiteral("sms");
    theSetting.mysqlPwd = QStringLiteral(" secret ");
    theSetting.mysqlDbName = QStringLiteral("inbox");
    DlgSetMysql dlg(nullptr);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("请设置MYSQL数据库连接参数"));
    QCOMPARE(dlg.size(), QSize(500, 360));
    QCOMPARE(dlg.hostEdit()->text(), QStringLiteral("db.example"));
    QCOMPARE(dlg.portEdit()->text(), QStringLiteral("3307"));
    QCOMPARE(dlg.userEdit()->text(), QStringLiteral("sms"));
    QCOMPARE(dlg.pwdEdit()->text(), QStringLiteral(" secret "));
    QCOMPARE(dlg.pwdEdit()->echoMode(), QLineEdit::PasswordEchoOnEdit);
    QCOMPARE(dlg.dbNameEdit()->text(), QStringLiteral("inbox"));
    QCOMPARE(dlg.hostEdit()->maxLength(), 30);
    QCOMPARE(dlg.portEdit()->maxLength(), 5);
    QCOMPARE(dlg.userEdit()->maxLength(), 32);
}

void TestDlgSettings::mysqlOkWrites_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("pwd");
    QTest::addColumn<QString>("dbName");
    QTest::addColumn<QString>("savedHost");
    QTest::addColumn<int>("savedPort");
    QTest::addColumn<QString>("savedUser");
    QTest::addColumn<QString>("savedPwd");
    QTest::addColumn<QString>("savedDbName");

    QTest::newRow("all trimmed but the password") << " 10.0.0.5 "
                                                  << " 3310 "
                                                  << " sms "
                                                  << " pw "
                                                  << " inbox "
                                                  << "10.0.0.5" << 3310 << "sms"
                                                  << " pw "
                                                  << "inbox";
    QTest::newRow("empty port stored as 0") << "127.0.0.1"
                                            << ""
                                            << "root"
                                            << "73914"
                                            << "smsserver"
                                            << "127.0.0.1" << 0 << "root"
                                            << "73914"
                                            << "smsserver";
    QTest::newRow("negative port kept") << "127.0.0.1"
                                        << "-5"
                                        << "root"
                                        << "73914"
                                        << "smsserver"
                                        << "127.0.0.1" << -5 << "root"
                                        << "73914"
                                        << "smsserver";
    QTest::newRow("empty host and password kept empty") << ""
                                                        << "3306"
                                                        << "root"
                                                        << ""
                                                        << "smsserver"
                                                        << "" << 3306 << "root"
                                                        << ""
                                                        << "smsserver";
}

void TestDlgSettings::mysqlOkWrites()
{
    QFETCH(QString, host);
    QFETCH(QString, port);
    QFETCH(QString, user);
    QFETCH(QString, pwd);
    QFETCH(QString, dbName);
    QFETCH(QString, savedHost);
    QFETCH(int, savedPort);
    QFETCH(QString, savedUser);
    QFETCH(QString, savedPwd);
    QFETCH(QString, savedDbName);

    DlgSetMysql dlg(nullptr);
    dlg.hostEdit()->setText(host);
    dlg.portEdit()->setText(port);
    dlg.userEdit()->setText(user);
    dlg.pwdEdit()->setText(pwd);
    dlg.dbNameEdit()->setText(dbName);
    QTest::mouseClick(buttonNamed(&dlg, QStringLiteral("确定")), Qt::LeftButton);

    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(theSetting.mysqlHost, savedHost);
    QCOMPARE(theSetting.mysqlPort, savedPort);
    QCOMPARE(theSetting.mysqlUser, savedUser);
    QCOMPARE(theSetting.mysqlPwd, savedPwd);
    QCOMPARE(theSetting.mysqlDbName, savedDbName);
    QCOMPARE(readKey(QStringLiteral("MYSQL_HOST")).toString(), savedHost);
    QCOMPARE(readKey(QStringLiteral("MYSQL_PORT")).toInt(), savedPort);
    QCOMPARE(readKey(QStringLiteral("MYSQL_PWD")).toString(), savedPwd);
    QCOMPARE(readKey(QStringLiteral("DEF_IGNORE")).toString(), QStringLiteral("COM1"));

    // What the dialog let through is put right at the next load.
    theSetting.loadIni();
    QVERIFY(theSetting.mysqlPort >= 1);
    QVERIFY(!theSetting.mysqlHost.isEmpty());
}

void TestDlgSettings::mysqlOkUnchangedLeavesFile()
{
    const QByteArray before = fileBytes(theSetting.iniPath());
    DlgSetMysql dlg(nullptr);
    dlg.hostEdit()->setText(QStringLiteral(" 127.0.0.1"));
    dlg.portEdit()->setText(QStringLiteral("03306"));
    dlg.onBtOk();
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(fileBytes(theSetting.iniPath()), before);
}

void TestDlgSettings::mysqlPortTakesDigitsOnly()
{
    DlgSetMysql dlg(nullptr);
    dlg.show();
    XEditLine* port = dlg.portEdit();
    port->clear();
    port->setFocus();
    QTest::keyClicks(port, QStringLiteral("3a3b0c7"));
    QCOMPARE(port->text(), QStringLiteral("3307"));
    QTest::keyClicks(port, QStringLiteral("99"));
    QCOMPARE(port->text(), QStringLiteral("33079"));
}

void TestDlgSettings::mysqlCancel()
{
    const QByteArray before = fileBytes(theSetting.iniPath());
    DlgSetMysql dlg(nullptr);
    dlg.hostEdit()->setText(QStringLiteral("elsewhere"));
    dlg.pwdEdit()->setText(QString());
    QTest::mouseClick(buttonNamed(&dlg, QStringLiteral("取消")), Qt::LeftButton);
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    QCOMPARE(theSetting.mysqlHost, QStringLiteral("127.0.0.1"));
    QCOMPARE(theSetting.mysqlPwd, QStringLiteral("73914"));
    QCOMPARE(fileBytes(theSetting.iniPath()), before);
}

// Values typed into settings.ini by hand may be longer than the edits allow;
// showing them and pressing OK must not cut them short.
void TestDlgSettings::longHandWrittenValuesSurvive()
{
    const QString host = QStringLiteral("mysql-primary.datacenter-east.example.com");
    const QString ports =
        QStringList(QVector<QString>(80, QStringLiteral("COM12")).toList()).join(QLatin1Char(','));
    QVERIFY(host.size() > 30);
    QVERIFY(ports.size() > 300);
    writeKey(QStringLiteral("MYSQL_HOST"), host);
    writeKey(QStringLiteral("DEF_IGNORE"), ports);
    theSetting.loadIni();
    const QByteArray before = fileBytes(theSetting.iniPath());

    DlgSetMysql mysql(nullptr);
    QCOMPARE(mysql.hostEdit()->text(), host);
    mysql.onBtOk();
    DlgSetComm comm(nullptr);
    QCOMPARE(comm.ignoreEdit()->text(), ports);
    comm.onBtOk();

    QCOMPARE(theSetting.mysqlHost, host);
    QCOMPARE(theSetting.ignorePorts, ports);
    QCOMPARE(fileBytes(theSetting.iniPath()), before);
}

void TestDlgSettings::textsFit()
{
    DlgSetComm comm(nullptr);
    verifyTextsFit(&comm, "dlgsetcomm.png");
    DlgSetMysql mysql(nullptr);
    verifyTextsFit(&mysql, "dlgsetmysql.png");
}

QTEST_MAIN(TestDlgSettings)
#include "tst_dlgsettings.moc"
