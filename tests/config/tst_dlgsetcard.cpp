// The card map dialog: its table, the row checks with their message, and
// what reaches theSetting and settings.ini.
#include "config/dlgsetcard.h"
#include "config/mycardmap.h"
#include "config/mysetting.h"
#include "widgets/xwidgets.h"

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QPointer>
#include <QSettings>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QtTest>

using Pairs = QList<QPair<QString, QString>>;
Q_DECLARE_METATYPE(Pairs)

namespace {

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

Pairs tableRows(DlgSetCard& dlg)
{
    Pairs rows;
    const QStandardItemModel* model = dlg.table()->itemModel();
    for (int row = 0; row < model->rowCount(); ++row) {
        rows.append({model->item(row, 0)->text(), model->item(row, 1)->text()});
    }
    return rows;
}

void fillTable(DlgSetCard& dlg, const Pairs& rows)
{
    QStandardItemModel* model = dlg.table()->itemModel();
    model->removeRows(0, model->rowCount());
    for (const auto& row : rows) {
        dlg.onBtAdd();
        model->item(model->rowCount() - 1, 0)->setText(row.first);
        model->item(model->rowCount() - 1, 1)->setText(row.second);
    }
}

Pairs mapPairs()
{
    Pairs pairs;
    for (int i = 0; i < theSetting.cardMap->simList.size(); ++i) {
        pairs.append({theSetting.cardMap->simList.at(i), theSetting.cardMap->phoneList.at(i)});
    }
    return pairs;
}

QString rowMessage(int row)
{
    return QStringLiteral("请检查第 %1 行的数据（SIM卡号不能为空，不能重复；手机号码不能超过15位）").arg(row);
}

} // namespace

class TestDlgSetCard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void showsTheMap();
    void save_data();
    void save();
    void badRowChangesNothing();
    void addAndDelete();
    void cancelKeepsMapAndFile();
    void openEditorIsSaved_data();
    void openEditorIsSaved();
    void layoutFits();

private:
    QScopedPointer<QTemporaryDir> dir;
    QStringList messages;
    QList<QWidget*> focusTargets;
};

void TestDlgSetCard::initTestCase()
{
    xInstallFonts();
    xSetMessageHook([this](const QString& title, const QString& text, QWidget* focusWidget) {
        messages.append(title + QLatin1Char('|') + text);
        focusTargets.append(focusWidget);
        return int(QMessageBox::Ok);
    });
}

void TestDlgSetCard::init()
{
    dir.reset(new QTemporaryDir);
    QVERIFY(dir->isValid());
    qputenv("APPDATA", dir->path().toLocal8Bit());
    // A fresh file with the defaults, then two saved pairs.
    theSetting.loadIni();
    theSetting.cardMap->addPair(QStringLiteral("89860012345678901234"), QStringLiteral("13800000001"));
    theSetting.cardMap->addPair(QStringLiteral("89860098765432109876"), QString());
    theSetting.saveIni();
    messages.clear();
    focusTargets.clear();
}

void TestDlgSetCard::cleanup()
{
    dir.reset();
}

void TestDlgSetCard::showsTheMap()
{
    DlgSetCard dlg(nullptr);
    const Pairs expected{{QStringLiteral("89860012345678901234"), QStringLiteral("13800000001")},
                         {QStringLiteral("89860098765432109876"), QString()}};
    QCOMPARE(tableRows(dlg), expected);
    QCOMPARE(dlg.table()->itemModel()->columnCount(), 2);
    QCOMPARE(dlg.table()->editTriggers(), QAbstractItemView::AllEditTriggers);
    QVERIFY(dlg.table()->horizontalHeader()->isHidden());
    QCOMPARE(dlg.windowTitle(), QStringLiteral("手机号和SIM卡号对应关系维护"));
    QCOMPARE(dlg.size(), QSize(500, 360));
}

void TestDlgSetCard::save_data()
{
    QTest::addColumn<Pairs>("rows");
    QTest::addColumn<int>("badRow");
    QTest::addColumn<Pairs>("saved");

    const QString phone15 = QStringLiteral("123456789012345");
    QTest::newRow("empty table empties the map") << Pairs{} << 0 << Pairs{};
    QTest::newRow("cells are trimmed")
        << Pairs{{QStringLiteral(" 111 "), QStringLiteral(" 138 ")}, {QStringLiteral("222"), QString()}} << 0
        << Pairs{{QStringLiteral("111"), QStringLiteral("138")}, {QStringLiteral("222"), QString()}};
    QTest::newRow("SIMs compare case-sensitively")
        << Pairs{{QStringLiteral("abc"), QString()}, {QStringLiteral("ABC"), QString()}} << 0
        << Pairs{{QStringLiteral("abc"), QString()}, {QStringLiteral("ABC"), QString()}};
    QTest::newRow("phone of 15 characters")
        << Pairs{{QStringLiteral("111"), phone15}} << 0 << Pairs{{QStringLiteral("111"), phone15}};
    QTest::newRow("phone of 16 characters")
        << Pairs{{QStringLiteral("111"), phone15 + QLatin1Char('6')}} << 1 << Pairs{};
    QTest::newRow("phone of 15 between blanks")
        << Pairs{{QStringLiteral("111"), QStringLiteral("  ") + phone15 + QStringLiteral(" ")}} << 0
        << Pairs{{QStringLiteral("111"), phone15}};
    QTest::newRow("blank SIM on row 2")
        << Pairs{{QStringLiteral("111"), QString()}, {QStringLiteral("   "), QStringLiteral("138")}} << 2
        << Pairs{};
    QTest::newRow("duplicate SIM after trimming") << Pairs{{QStringLiteral("111"), QString()},
                                                           {QStringLiteral("222"), QString()},
                                                           {QStringLiteral(" 111\t"), QString()}}
                                                  << 3 << Pairs{};
    QTest::newRow("three new empty rows")
        << Pairs{{QString(), QString()}, {QString(), QString()}, {QString(), QString()}} << 1 << Pairs{};
}

void TestDlgSetCard::save()
{
    QFETCH(Pairs, rows);
    QFETCH(int, badRow);
    QFETCH(Pairs, saved);

    const Pairs before = mapPairs();
    const QByteArray fileBefore = fileBytes(theSetting.iniPath());
    DlgSetCard dlg(nullptr);
    fillTable(dlg, rows);
    dlg.onBtOk();

    if (badRow > 0) {
        QCOMPARE(messages, QStringList{QStringLiteral("错误提示|") + rowMessage(badRow)});
        QCOMPARE(focusTargets, QList<QWidget*>{&dlg});
        QVERIFY(dlg.result() != QDialog::Accepted);
        QCOMPARE(mapPairs(), before);
        QCOMPARE(fileBytes(theSetting.iniPath()), fileBefore);
        return;
    }
    QVERIFY(messages.isEmpty());
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(mapPairs(), saved);
    QSettings ini(theSetting.iniPath(), QSettings::IniFormat);
    QCOMPARE(ini.value(QStringLiteral("CARD/NUM")).toInt(), saved.size());
    for (int i = 0; i < saved.size(); ++i) {
        QCOMPARE(ini.value(QStringLiteral("CARD/SIM_%1").arg(i)).toString(), saved.at(i).first);
        QCOMPARE(ini.value(QStringLiteral("CARD/PHN_%1").arg(i)).toString(), saved.at(i).second);
    }
    QCOMPARE(QFile::permissions(theSetting.iniPath()) & 0x0077, QFileDevice::Permissions());
}

// The operator corrects the bad row and saves again.
void TestDlgSetCard::badRowChangesNothing()
{
    DlgSetCard dlg(nullptr);
    fillTable(dlg, {{QStringLiteral("111"), QString()}, {QStringLiteral("111"), QString()}});
    dlg.onBtOk();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(theSetting.cardMap->simList.size(), 2);
    dlg.table()->itemModel()->item(1, 0)->setText(QStringLiteral("333"));
    dlg.onBtOk();
    QCOMPARE(messages.size(), 1);
    QCOMPARE(theSetting.cardMap->simList, QStringList({QStringLiteral("111"), QStringLiteral("333")}));
}

void TestDlgSetCard::addAndDelete()
{
    DlgSetCard dlg(nullptr);
    XViewTable* table = dlg.table();
    QStandardItemModel* model = table->itemModel();

    // No current row: nothing is deleted.
    QVERIFY(!table->currentIndex().isValid());
    dlg.onBtDel();
    QCOMPARE(model->rowCount(), 2);

    dlg.onBtAdd();
    QCOMPARE(model->rowCount(), 3);
    QCOMPARE(model->item(2, 0)->text(), QString());
    QCOMPARE(model->item(2, 1)->text(), QString());

    table->setCurrentIndex(model->index(0, 1));
    dlg.onBtDel();
    QCOMPARE(model->rowCount(), 2);
    QCOMPARE(model->item(0, 0)->text(), QStringLiteral("89860098765432109876"));
    // Only the working copy changed.
    QCOMPARE(theSetting.cardMap->simList.size(), 2);
}

void TestDlgSetCard::cancelKeepsMapAndFile()
{
    const Pairs before = mapPairs();
    const QByteArray fileBefore = fileBytes(theSetting.iniPath());
    {
        DlgSetCard dlg(nullptr);
        fillTable(dlg, {{QStringLiteral("999"), QStringLiteral("1")}});
        dlg.onBtCancel();
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
    }
    QCOMPARE(mapPairs(), before);
    QCOMPARE(fileBytes(theSetting.iniPath()), fileBefore);
    DlgSetCard reopened(nullptr);
    QCOMPARE(tableRows(reopened), before);
}

// Text still in an open cell editor when the save button is pressed is saved.
void TestDlgSetCard::openEditorIsSaved_data()
{
    QTest::addColumn<bool>("byMouse");
    QTest::newRow("save button clicked") << true;
    QTest::newRow("save slot called directly") << false;
}

void TestDlgSetCard::openEditorIsSaved()
{
    QFETCH(bool, byMouse);

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
    if (byMouse) {
        QPushButton* save = nullptr;
        for (QPushButton* button : dlg.findChildren<QPushButton*>()) {
            if (button->text() == QStringLiteral("保存")) {
                save = button;
            }
        }
        QVERIFY(save);
        QTest::mouseClick(save, Qt::LeftButton);
    } else {
        dlg.onBtOk();
    }
    QVERIFY(messages.isEmpty());
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(theSetting.cardMap->phoneList.value(1), QStringLiteral("13900000002"));
}

void TestDlgSetCard::layoutFits()
{
    DlgSetCard dlg(nullptr);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    const auto labels = dlg.findChildren<QLabel*>();
    QCOMPARE(labels.size(), 2);
    for (QLabel* label : labels) {
        QVERIFY2(label->sizeHint().width() <= label->width(), qPrintable(label->text()));
        QVERIFY2(label->sizeHint().height() <= label->height(), qPrintable(label->text()));
    }
    for (QPushButton* button : dlg.findChildren<QPushButton*>()) {
        QVERIFY2(button->sizeHint().width() <= button->width(), qPrintable(button->text()));
    }
    const QByteArray shots = qgetenv("VLSMS_SHOT_DIR");
    if (!shots.isEmpty()) {
        dlg.grab().save(QString::fromLocal8Bit(shots) + QStringLiteral("/dlgsetcard.png"));
    }
}

QTEST_MAIN(TestDlgSetCard)
#include "tst_dlgsetcard.moc"
