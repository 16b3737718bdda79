// The settings dialogs: what they show from theSetting, what OK writes to
// settings.ini, the card map's row checks, and what cancel leaves alone.
#include "core/mycardmap.h"
#include "core/mysetting.h"
#include "gui/dlgsetcard.h"
#include "gui/dlgsetcomm.h"
#include "gui/dlgsetmysql.h"
#include "gui/xwidgets.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QSettings>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QtTest>

using Pairs = QList<QPair<QString, QString>>;
Q_DECLARE_METATYPE(Pairs)

namespace {

QByteArray iniBytes()
{
    QFile file(theSetting.iniPath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QVariant iniValue(const QString& key)
{
    return QSettings(theSetting.iniPath(), QSettings::IniFormat).value(key);
}

// As an operator editing settings.ini by hand.
void writeIni(const QString& key, const QVariant& value)
{
    QSettings(theSetting.iniPath(), QSettings::IniFormat).setValue(key, value);
}

void clickButton(QWidget* dialog, const QString& text)
{
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        if (button->text() == text) {
            QTest::mouseClick(button, Qt::LeftButton);
            return;
        }
    }
    QFAIL(qPrintable(QStringLiteral("no button ") + text));
}

Pairs mapPairs()
{
    Pairs pairs;
    for (int i = 0; i < theSetting.cardMap->simList.size(); ++i) {
        pairs.append({theSetting.cardMap->simList.at(i), theSetting.cardMap->phoneList.at(i)});
    }
    return pairs;
}

const Pairs savedPairs{{QStringLiteral("89860012345678901234"), QStringLiteral("13800000001")},
                       {QStringLiteral("89860098765432109876"), QString()}};

} // namespace
class TestDlgSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        xInstallFonts();
        xSetMessageHook([this](const QString& title, const QString& text, QWidget* focusWidget) {
            messages << title + QLatin1Char('|') + text + QLatin1Char('|') +
                            focusWidget->metaObject()->className();
            return int(QMessageBox::Ok);
        });
    }

    // A fresh settings.ini with the defaults, one excluded port and two card pairs.
    void init()
    {
        dir.reset(new QTemporaryDir);
        QVERIFY(dir->isValid());
        qputenv("APPDATA", dir->path().toLocal8Bit());
        theSetting.loadIni();
        theSetting.ignorePorts = QStringLiteral("COM1");
        for (const auto& pair : savedPairs) {
            theSetting.cardMap->addPair(pair.first, pair.second);
        }
        theSetting.saveIni();
        messages.clear();
    }

    void cleanup() { dir.reset(); }

    // OK keeps what is typed, trimmed (the password aside); it writes the whole
    // file, with a value only memory corrected, unless nothing changed.
    void okSaves_data()
    {
        QTest::addColumn<QStringList>("typed"); // serial: baud index, flow, ports; else the MySQL edits
        QTest::addColumn<QStringList>("saved");
        QTest::addColumn<bool>("written");

        QTest::newRow("serial: baud rate changed")
            << QStringList{"0", "1", "COM1"} << QStringList{"9600", "1", "COM1"} << true;
        QTest::newRow("serial: ports trimmed")
            << QStringList{"1", "0", "  COM1,COM5 "} << QStringList{"115200", "0", "COM1,COM5"} << true;
        QTest::newRow("MySQL: all trimmed but the password")
            << QStringList{" 10.0.0.5 ", " 3310 ", " sms ", " pw ", " inbox ",
                           " ca.pem ",   "c.pem",  "c.key", " h2 "}
            << QStringList{"10.0.0.5", "3310", "sms", " pw ", "inbox", "ca.pem", "c.pem", "c.key", "h2"}
            << true;
        QTest::newRow("MySQL: unchanged after trimming")
            << QStringList{" 127.0.0.1", "03306", "root ", "73914", "smsserver", " ", "", "", " "}
            << QStringList{"127.0.0.1", "3306", "root", "73914", "smsserver", "", "", "", ""} << false;
    }

    void okSaves()
    {
        QFETCH(QStringList, typed);
        QFETCH(QStringList, saved);
        QFETCH(bool, written);

        // An odd speed that only memory corrected shows whether the file was rewritten.
        writeIni(QStringLiteral("DEF_SPEED"), 50);
        theSetting.loadIni();
        const QByteArray before = iniBytes();
        QScopedPointer<QDialog> dlg;
        QStringList keys;
        if (typed.size() == 3) {
            auto* comm = new DlgSetComm(nullptr);
            comm->baudBox()->setCurrentIndex(typed.at(0).toInt());
            comm->flowCheck()->setChecked(typed.at(1) == "1");
            comm->ignoreEdit()->setText(typed.at(2));
            dlg.reset(comm);
            keys = QStringList{"DEF_BAUD", "DEF_FLOW", "DEF_IGNORE"};
        } else {
            auto* mysql = new DlgSetMysql(nullptr);
            const QList<XEditLine*> edits{
                mysql->hostEdit(),    mysql->portEdit(),   mysql->userEdit(),
                mysql->pwdEdit(),     mysql->dbNameEdit(), mysql->sslCaEdit(),
                mysql->sslCertEdit(), mysql->sslKeyEdit(), mysql->gatewayNameEdit()};
            for (int i = 0; i < edits.size(); ++i) {
                edits.at(i)->setText(typed.at(i));
            }
            dlg.reset(mysql);
            keys =
                QStringList{"MYSQL_HOST",   "MYSQL_PORT",     "MYSQL_USER",    "MYSQL_PWD",   "MYSQL_DBNAME",
                            "MYSQL_SSL_CA", "MYSQL_SSL_CERT", "MYSQL_SSL_KEY", "GATEWAY_NAME"};
        }
        clickButton(dlg.data(), QStringLiteral("确定"));
        QCOMPARE(dlg->result(), int(QDialog::Accepted));

        const QStringList inMemory =
            typed.size() == 3 ? QStringList{QString::number(theSetting.baudRate),
                                            QString::number(theSetting.flowControl), theSetting.ignorePorts}
                              : QStringList{theSetting.mysqlHost,    QString::number(theSetting.mysqlPort),
                                            theSetting.mysqlUser,    theSetting.mysqlPwd,
                                            theSetting.mysqlDbName,  theSetting.mysqlSslCa,
                                            theSetting.mysqlSslCert, theSetting.mysqlSslKey,
                                            theSetting.gatewayName};
        QCOMPARE(inMemory, saved);
        if (!written) {
            QCOMPARE(iniBytes(), before);
            return;
        }
        QStringList inFile;
        for (const QString& key : keys) {
            inFile << iniValue(key).toString();
        }
        QCOMPARE(inFile, saved);
        QCOMPARE(iniValue(QStringLiteral("DEF_SPEED")).toInt(), 200);
        QCOMPARE(iniValue(QStringLiteral("CARD/NUM")).toInt(), 2);
    }

    // Closing the serial dialog or cancelling the card map keeps what was saved.
    void cancelChangesNothing()
    {
        const QByteArray before = iniBytes();
        {
            DlgSetComm comm(nullptr);
            comm.baudBox()->setCurrentIndex(0);
            comm.flowCheck()->setChecked(true);
            comm.ignoreEdit()->setText(QStringLiteral("COM9"));
            comm.show();
            comm.close();
            QCOMPARE(comm.result(), int(QDialog::Rejected));
            DlgSetCard card(nullptr);
            card.onBtAdd();
            card.table()->itemModel()->item(0, 1)->setText(QStringLiteral("1"));
            card.table()->itemModel()->item(2, 0)->setText(QStringLiteral("999"));
            card.show();
            clickButton(&card, QStringLiteral("取消"));
            QCOMPARE(card.result(), int(QDialog::Rejected));
        }
        QCOMPARE(theSetting.flowControl, 0);
        QCOMPARE(theSetting.ignorePorts, QStringLiteral("COM1"));
        QCOMPARE(mapPairs(), savedPairs);
        QCOMPARE(iniBytes(), before);
    }

    // Values typed into settings.ini by hand may be longer than the edits allow;
    // showing them and pressing OK must not cut them short.
    void longHandWrittenValuesSurvive()
    {
        const QString host = QStringLiteral("mysql-primary.datacenter-east.example.com");
        const QString ports =
            QStringList(QVector<QString>(80, QStringLiteral("COM12")).toList()).join(QLatin1Char(','));
        writeIni(QStringLiteral("MYSQL_HOST"), host);
        writeIni(QStringLiteral("DEF_IGNORE"), ports);
        theSetting.loadIni();
        const QByteArray before = iniBytes();

        DlgSetMysql mysql(nullptr);
        mysql.onBtOk();
        DlgSetComm comm(nullptr);
        comm.onBtOk();
        QCOMPARE(theSetting.mysqlHost, host);
        QCOMPARE(theSetting.ignorePorts, ports);
        QCOMPARE(iniBytes(), before);
    }

    void cardSave_data()
    {
        QTest::addColumn<Pairs>("rows");
        QTest::addColumn<int>("badRow");
        QTest::addColumn<Pairs>("saved");

        const QString phone15 = QStringLiteral("123456789012345");
        QTest::newRow("empty table empties the map") << Pairs{} << 0 << Pairs{};
        QTest::newRow("cells trimmed, empty phone kept")
            << Pairs{{" 111 ", " 138 "}, {"222", ""}} << 0 << Pairs{{"111", "138"}, {"222", ""}};
        QTest::newRow("phone of 16 characters") << Pairs{{"111", ""}, {"222", phone15 + "6"}} << 2 << Pairs{};
        QTest::newRow("blank SIM") << Pairs{{"111", ""}, {"   ", "138"}} << 2 << Pairs{};
        QTest::newRow("duplicate SIM after trimming")
            << Pairs{{"111", ""}, {"222", ""}, {" 111\t", ""}} << 3 << Pairs{};
    }

    void cardSave()
    {
        QFETCH(Pairs, rows);
        QFETCH(int, badRow);
        QFETCH(Pairs, saved);

        const QByteArray before = iniBytes();
        DlgSetCard dlg(nullptr);
        QStandardItemModel* model = dlg.table()->itemModel();
        model->removeRows(0, model->rowCount());
        for (const auto& row : rows) {
            dlg.onBtAdd();
            model->item(model->rowCount() - 1, 0)->setText(row.first);
            model->item(model->rowCount() - 1, 1)->setText(row.second);
        }
        dlg.onBtOk();

        if (badRow > 0) {
            QCOMPARE(messages.size(), 1);
            QVERIFY2(messages.first().contains(QStringLiteral("第 %1 行").arg(badRow)),
                     qPrintable(messages.first()));
            QVERIFY(dlg.result() != QDialog::Accepted);
            QCOMPARE(mapPairs(), savedPairs);
            QCOMPARE(iniBytes(), before);
            return;
        }
        QVERIFY(messages.isEmpty());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(mapPairs(), saved);
        QCOMPARE(iniValue(QStringLiteral("CARD/NUM")).toInt(), saved.size());
    }

    // A save that fails is told over the dialog, which stays open and takes
    // back what it put into memory; OK saves once the way is clear.
    void failedSaveChangesNothing_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("serial") << 0;
        QTest::newRow("MySQL") << 1;
        QTest::newRow("card map") << 2;
    }

    void failedSaveChangesNothing()
    {
        QFETCH(int, kind);

        // The file went bad on disk and the name it would be kept under is taken by a folder.
        QFile ini(theSetting.iniPath());
        QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write("not a settings line\n") > 0);
        ini.close();
        const QString bad = theSetting.iniPath() + QStringLiteral(".bad");
        QVERIFY(QDir().mkpath(bad + QStringLiteral("/kept")));
        const auto inMemory = [] {
            QStringList values{QString::number(theSetting.baudRate), theSetting.ignorePorts,
                               theSetting.mysqlHost, theSetting.gatewayName};
            for (const auto& pair : mapPairs()) {
                values << pair.first + QLatin1Char('=') + pair.second;
            }
            return values;
        };
        const QStringList before = inMemory();

        QScopedPointer<QDialog> dlg;
        QString save = QStringLiteral("确定");
        if (kind == 0) {
            auto* comm = new DlgSetComm(nullptr);
            comm->baudBox()->setCurrentIndex(0);
            comm->ignoreEdit()->setText(QStringLiteral("COM7"));
            dlg.reset(comm);
        } else if (kind == 1) {
            auto* mysql = new DlgSetMysql(nullptr);
            mysql->hostEdit()->setText(QStringLiteral("10.0.0.9"));
            mysql->gatewayNameEdit()->setText(QStringLiteral("east"));
            dlg.reset(mysql);
        } else {
            auto* card = new DlgSetCard(nullptr);
            card->onBtAdd();
            QStandardItemModel* model = card->table()->itemModel();
            model->item(2, 0)->setText(QStringLiteral("333"));
            model->item(2, 1)->setText(QStringLiteral("139"));
            dlg.reset(card);
            save = QStringLiteral("保存");
        }
        clickButton(dlg.data(), save);
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages.first().startsWith(QStringLiteral("错误提示|设置未能保存")) &&
                     messages.first().contains(bad),
                 qPrintable(messages.first()));
        QVERIFY(dlg->result() != QDialog::Accepted);
        QCOMPARE(inMemory(), before);

        QVERIFY(QDir(bad).removeRecursively());
        clickButton(dlg.data(), save);
        QCOMPARE(messages.size(), 1);
        QCOMPARE(dlg->result(), int(QDialog::Accepted));
        const QStringList saved = inMemory();
        QVERIFY(saved != before);
        theSetting.loadIni();
        QCOMPARE(inMemory(), saved);
    }

    // Text still in an open cell editor when saving is reached is saved with it.
    void cardOpenEditorIsSaved()
    {
        DlgSetCard dlg(nullptr);
        dlg.show();
        QApplication::setActiveWindow(&dlg);
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        XViewTable* table = dlg.table();
        table->setFocus();
        // Every edit trigger is on: making the cell current opens its editor.
        table->setCurrentIndex(table->itemModel()->index(1, 1));
        QPointer<QLineEdit> editor;
        QTRY_VERIFY_WITH_TIMEOUT((editor = table->viewport()->findChild<QLineEdit*>()) && editor->hasFocus(),
                                 2000);
        QTest::keyClicks(editor, QStringLiteral("13900000002"));
        dlg.onBtOk();
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(theSetting.cardMap->phoneList.value(1), QStringLiteral("13900000002"));
    }

private:
    QScopedPointer<QTemporaryDir> dir;
    QStringList messages;
};

QTEST_MAIN(TestDlgSettings)
#include "tst_dlgsettings.moc"
