#include "app/mainwindow.h"

#include "app/clock.h"
#include "config/dlgsetcard.h"
#include "config/dlgsetcomm.h"
#include "config/dlgsetmysql.h"
#include "config/mycardmap.h"
#include "config/mysetting.h"
#include "modem/mycomworker.h"
#include "modem/serialchecker.h"
#include "mysql/mysql5.h"
#include "pdu/gsmop.h"
#include "store/myrecvsms.h"
#include "widgets/xbuttons.h"
#include "widgets/xinputs.h"

#include <QCloseEvent>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QStandardItemModel>

#include <algorithm>

namespace {

const int portColumnState = 1;
const int portColumnDevice = 2;
const int portColumnSim = 3;

QString tr8(const char* text)
{
    return QString::fromUtf8(text);
}

// Shown in the receive panel while the local store is not open.
QString storeClosedText()
{
    return tr8("本地库无法打开");
}

} // namespace

MainWindow::~MainWindow() = default;

QStringList MainWindow::servedPorts(const QStringList& enumerated, const QString& extraPorts)
{
    QStringList names = enumerated;
    const QStringList extra = extraPorts.split(QRegularExpression(QStringLiteral("[,\uFF0C]")));
    for (const QString& entry : extra) {
        const QString name = entry.trimmed();
        if (!name.isEmpty()) {
            names.append(name);
        }
    }
    names.removeDuplicates();
    std::sort(names.begin(), names.end());
    return names;
}

bool MainWindow::isExcluded(const QString& portName, const QString& ignorePorts)
{
    const QStringList entries = ignorePorts.split(QRegularExpression(QStringLiteral("[,\uFF0C]")));
    for (const QString& entry : entries) {
        if (entry.trimmed() == portName) {
            return true;
        }
    }
    return false;
}

void MainWindow::startWorkers()
{
    theSetting.loadIni();
    QStringList enumerated;
    const QList<QSerialPortInfo> infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : infos) {
        enumerated.append(info.portName());
    }
    portNames = servedPorts(enumerated, theSetting.extraPorts);

    QList<bool> excluded;
    for (int i = 0; i < portNames.size(); ++i) {
        auto* worker = new MyComWorker(this);
        worker->setParams(i + 1, portNames.at(i), theSetting.speed, theSetting.baudRate,
                          theSetting.flowControl);
        workers.append(worker);
        connect(worker, &MyComWorker::workOkMsg, this, &MainWindow::onWorkOkMsg);
        connect(worker, &MyComWorker::workErrMsg, this, &MainWindow::onWorkErrMsg);

        excluded.append(isExcluded(portNames.at(i), theSetting.ignorePorts));
        portModel->insertRow(i);
        portModel->setData(portModel->index(i, 0), portNames.at(i));
        portModel->setData(portModel->index(i, portColumnState),
                           excluded.at(i) ? tr8("（排除）") : tr8("准备连接..."));
        portModel->setData(portModel->index(i, portColumnDevice), QStringLiteral("-"));
        portModel->setData(portModel->index(i, portColumnSim), QStringLiteral("-"));
    }

    comRunState.store(1);
    for (int i = 0; i < workers.size(); ++i) {
        if (!excluded.at(i)) {
            workers.at(i)->startWork();
        }
    }
}

void MainWindow::stopWorkers()
{
    comRunState.store(99);
    const QList<MyComWorker*> running = workers;
    for (MyComWorker* worker : running) {
        worker->stopWork();
        worker->deleteLater();
    }
    workers.clear();
}

void MainWindow::clearPortTable()
{
    portModel->removeRows(0, portModel->rowCount());
}

void MainWindow::onBtStartCom()
{
    stopWorkers();
    clearPortTable();
    if (!commRunning) {
        commRunning = true;
        btSetCom->setVisible(false);
        btStartCom->setText(tr8("停止"));
        startWorkers();
    } else {
        commRunning = false;
        btStartCom->setText(tr8("启动"));
        btSetCom->setVisible(true);
    }
}

void MainWindow::onWorkOkMsg(int nCheckID, int nMsg, const QByteArray& pduBuf)
{
    if (logBit(LogWorkerMsg)) {
        if (nMsg >= 4) {
            mainLog.write(QStringLiteral("OKMSG: ID=%1, MSG=%2").arg(nCheckID).arg(nMsg).toUtf8());
        }
        if (!pduBuf.isEmpty()) {
            mainLog.write(pduBuf);
        }
    }
    if (nCheckID < 1 || nCheckID > portNames.size()) {
        return;
    }
    const int row = nCheckID - 1;
    const QModelIndex state = portModel->index(row, portColumnState);
    switch (nMsg) {
    case 1:
        portModel->setData(state, tr8("连接成功,检查AT响应..."));
        break;
    case 2:
        portModel->setData(state, tr8("设备初始化..."));
        break;
    case 4:
        portModel->setData(state, tr8("获取卡号..."));
        portModel->setData(portModel->index(row, portColumnDevice), QString::fromUtf8(pduBuf));
        break;
    case 5:
        portModel->setData(state, tr8("工作中(0)..."));
        portModel->setData(portModel->index(row, portColumnSim), QString::fromUtf8(pduBuf));
        break;
    case 6: {
        portModel->setData(state, tr8("工作中(1)..."));
        if (row >= workers.size()) {
            return; // queued before a stop emptied the worker list
        }
        MyComWorker* worker = workers.at(row);
        const MySetting::InsertOutcome outcome = theSetting.insertRecvOutcome(
            worker->portName(), worker->deviceNo(), worker->simNo(), QString::fromUtf8(pduBuf));
        // The worker deletes the message from the SIM only once the store holds it.
        switch (outcome) {
        case MySetting::InsertOutcome::Stored:
            worker->answerMessage(StoreAnswer::Stored);
            updateRecvPanel();
            break;
        case MySetting::InsertOutcome::AlreadyStored:
            worker->answerMessage(StoreAnswer::AlreadyStored);
            break;
        case MySetting::InsertOutcome::Failed:
            worker->answerMessage(StoreAnswer::Failed);
            break;
        }
        break;
    }
    default:
        break;
    }
}

void MainWindow::onWorkErrMsg(int nCheckID, int nMsg)
{
    if (nCheckID < 1 || nCheckID > portNames.size()) {
        return;
    }
    const char* text = nullptr;
    switch (nMsg) {
    case 0:
        text = "端口连接异常！";
        break;
    case 1:
        text = "连接失败,重试中...";
        break;
    case 2:
        text = "AT响应异常,重试中...";
        break;
    case 3:
        text = "初始化异常,请检查设备！";
        break;
    case 4:
        text = "设备号异常！";
        break;
    case 5:
        text = "SIM卡异常！";
        break;
    default:
        return;
    }
    portModel->setData(portModel->index(nCheckID - 1, portColumnState), tr8(text));
}

void MainWindow::onBtSetCom()
{
    DlgSetComm dialog(this);
    dialog.exec();
}

void MainWindow::onBtSetDB()
{
    DlgSetMysql dialog(this);
    dialog.exec();
}

void MainWindow::onBtSetCard()
{
    DlgSetCard dialog(this);
    dialog.exec();
}

void MainWindow::onBtDebug() {}

void MainWindow::closeEvent(QCloseEvent* event)
{
    handTimer.stop();
    appStartTimer.stop();
    mysqlThread.stopConn();
    stopWorkers();
    QMainWindow::closeEvent(event);
}

// --- timers and the sync cycle ------------------------------------------

void MainWindow::onAppStart()
{
    showStoreState();
    onBtStartCom();
    onBtStartDB();
    updateRecvPanel();
    updateSyncPanel();
    handTimer.start(1000);
}

void MainWindow::onHandTimer()
{
    if (tickCount > 90000000) {
        tickCount = 0;
    }
    if (logBit(LogTick)) {
        const int before = tickCount++;
        if (before % 10 == 0) {
            mainLog.write(
                QStringLiteral("TICK-%1, STAT=%2").arg(tickCount).arg(theSetting.mysqlState).toUtf8());
        }
    }
    syncStep();
    dailyRestart();
    clearOldParts();
}

void MainWindow::onBtStartDB()
{
    theSetting.lastDbError.clear();
    if (!syncRunning) {
        syncRunning = true;
        btSetDB->setVisible(false);
        btSetCard->setVisible(false);
        btStartDB->setText(tr8("停止"));
        theSetting.loadIni();
        mysqlThread.stopConn();
        Mysql5::closeConn();
        theSetting.mysqlState = 1;
        mysqlThread.startConn(theSetting.mysqlHost, theSetting.mysqlPort, theSetting.mysqlUser,
                              theSetting.mysqlPwd, theSetting.mysqlDbName);
    } else {
        syncRunning = false;
        btStartDB->setText(tr8("启动"));
        btSetDB->setVisible(true);
        btSetCard->setVisible(true);
        mysqlThread.stopConn();
        Mysql5::closeConn();
        theSetting.mysqlState = 0;
    }
    updateSyncPanel();
}

void MainWindow::onMySql5ConnResult(int nResult)
{
    // An attempt that was under way when the sync was switched off may still
    // report; the link stays off.
    if (!syncRunning) {
        return;
    }
    theSetting.mysqlState = nResult;
    updateSyncPanel();
}

void MainWindow::syncStep()
{
    if (!syncRunning || theSetting.mysqlState == 0 || theSetting.mysqlState == 1) {
        return;
    }
    const int state = theSetting.mysqlState;
    if (state > 90) {
        theSetting.mysqlState = state - 1;
    } else if (state == 90) {
        mysqlThread.stopConn();
        Mysql5::closeConn();
        theSetting.mysqlState = 1;
        mysqlThread.startConn(theSetting.mysqlHost, theSetting.mysqlPort, theSetting.mysqlUser,
                              theSetting.mysqlPwd, theSetting.mysqlDbName);
    } else if (state == 2) {
        if (!forwardOne()) {
            return;
        }
        for (int i = 1; i < 7; ++i) {
            if (!forwardOne()) {
                break;
            }
        }
    } else {
        if (!theSetting.lastDbError.isEmpty()) {
            mainLog.write(theSetting.lastDbError.toUtf8());
            theSetting.lastDbError.clear();
            updateSyncPanel();
        }
        theSetting.mysqlState = 99;
    }
    updateSyncPanel();
}

bool MainWindow::forwardOne()
{
    QString error;
    if (!Mysql5::testConn(error)) {
        if (theSetting.mysqlState == 2) {
            mainLog.write(error.toUtf8());
            theSetting.lastDbError = QStringLiteral("MYSQL CONECT LOST.");
            theSetting.mysqlState = 3;
        }
        return false;
    }
    QList<MyRecvSms*> records;
    if (!theSetting.pickNext(records) || records.isEmpty()) {
        qDeleteAll(records);
        return false;
    }
    const MyRecvSms* first = records.first();
    const QString gatewayId = first->port_no;
    const QString sender = first->sms_sender;
    const QString messageDate = first->sms_stamp;
    const QString receiveDate = MySetting::timeText(first->recv_time);
    const QString userPhone = theSetting.cardMap->phoneForSim(first->sim_no);

    // The text is formed from the stored PDUs of the parts, so that 7-bit
    // messages keep '@', the extension characters and the fill bits.
    QStringList pdus;
    for (const MyRecvSms* record : qAsConst(records)) {
        pdus.append(record->txt_pdu);
    }
    const QString text = GsmOp::messageText(pdus);

    error.clear();
    const bool inserted =
        Mysql5::insertSms(userPhone, gatewayId, sender, messageDate, receiveDate, text, error);
    if (logBit(LogInsertCard)) {
        mainLog.write(QStringLiteral("insert card: (phone-%1)").arg(userPhone).toUtf8());
        mainLog.write(QStringLiteral("insert card: (comm-%1)").arg(gatewayId).toUtf8());
        mainLog.write(QStringLiteral("insert card: (sender-%1)").arg(sender).toUtf8());
        mainLog.write(QStringLiteral("insert card: (sendstamp-%1)").arg(messageDate).toUtf8());
        mainLog.write(QStringLiteral("insert card: (recvstamp-%1)").arg(receiveDate).toUtf8());
        mainLog.write(QStringLiteral("insert card: (txt-%1)").arg(text).toUtf8());
        if (!error.isEmpty()) {
            mainLog.write(QStringLiteral("insert card: (error-%1)").arg(error).toUtf8());
        }
    }
    if (!inserted && !error.isEmpty()) {
        mainLog.write(error.toUtf8());
    }
    const int flag = inserted ? 1 : 10;
    for (const MyRecvSms* record : qAsConst(records)) {
        theSetting.markHandled(record->tow_id, flag);
    }
    qDeleteAll(records);
    return inserted;
}

void MainWindow::dailyRestart()
{
    if (!commRunning) {
        return;
    }
    const QDateTime now = AppClock::now();
    const int day = now.date().day();
    if (day != lastRestartDay && now.time().hour() == 1 && now.time().minute() == 1) {
        lastRestartDay = day;
        stopWorkers();
        clearPortTable();
        startWorkers();
        if (logBit(LogTick)) {
            mainLog.write("RESTART COMM WORK...");
        }
    }
}

void MainWindow::clearOldParts()
{
    const int minute = AppClock::now().time().minute();
    if (minute != lastClearMinute && minute % 5 == 0) {
        lastClearMinute = minute;
        if (theSetting.expireParts()) {
            updateSyncPanel();
        }
        if (logBit(LogTick)) {
            mainLog.write("CLEAR OLD MULTI USER-DATA");
        }
    }
}

namespace {

QString countText(int count)
{
    return count < 0 ? QStringLiteral("-") : QString::number(count);
}

} // namespace

void MainWindow::updateSyncPanel()
{
    const int state = theSetting.mysqlState;
    QString text;
    if (state == 0) {
        text = tr8("未连接");
    } else if (state == 1) {
        text = tr8("正在连接...");
    } else if (state == 2) {
        text = tr8("已连接");
    } else if (state == 3) {
        text = tr8("连接错误，请检查设置！");
    } else if (state >= 90 && state <= 99) {
        text = tr8("准备再次尝试:") + QString::number(state - 89);
    } else {
        text = QStringLiteral("-");
    }
    lbConnState->setText(text);

    const int pending = theSetting.countPending();
    if (pending != lastPending) {
        lastPending = pending;
        lbPending->setText(countText(pending));
    }
    lbLastSync->setText(theSetting.lastHandledTime());
}

void MainWindow::updateRecvPanel()
{
    if (!theSetting.isLocalDbOpen()) {
        showStoreState();
        return;
    }
    const int total = theSetting.countAll();
    if (total != lastTotal) {
        lastTotal = total;
        lbRecvTotal->setText(countText(total));
    }
    lbLastNumber->setText(theSetting.lastSender());
    lbLastTime->setText(theSetting.lastRecvTime());

    const int pending = theSetting.countPending();
    if (pending != lastPending) {
        lastPending = pending;
        lbPending->setText(countText(pending));
    }
}

// When the local store could not be opened nothing can be counted: say so in
// the receive panel and, once, in the main log.
void MainWindow::showStoreState()
{
    if (theSetting.isLocalDbOpen()) {
        return;
    }
    lbRecvTotal->setText(storeClosedText());
    lbLastNumber->setText(storeClosedText());
    lbLastTime->setText(storeClosedText());
    if (!storeFaultLogged) {
        storeFaultLogged = true;
        mainLog.write(QStringLiteral("LOCAL DB NOT OPEN: %1").arg(theSetting.localDbError()).toUtf8());
    }
}
