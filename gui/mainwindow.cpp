#include "gui/mainwindow.h"

#include "core/clock.h"
#include "core/mysetting.h"
#include "gui/dlgsetcard.h"
#include "gui/dlgsetcomm.h"
#include "gui/dlgsetmysql.h"
#include "gui/porttabledelegate.h"
#include "gui/xbuttons.h"
#include "gui/xfactory.h"
#include "gui/xfonts.h"
#include "gui/xinputs.h"
#include "gui/xviews.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QStandardItemModel>

namespace {

QString tr8(const char* text)
{
    return QString::fromUtf8(text);
}

QString countText(int count)
{
    return count < 0 ? QStringLiteral("-") : QString::number(count);
}

void setIfChanged(XLabel* label, const QString& text)
{
    if (label->text() != text) {
        label->setText(text);
    }
}

QString networkText(ModemHealth::Registration registration)
{
    using R = ModemHealth::Registration;
    switch (registration) {
    case R::Home:
        return tr8("本地");
    case R::Roaming:
        return tr8("漫游");
    case R::Searching:
        return tr8("搜网中");
    case R::Denied:
        return tr8("被拒绝");
    case R::Unregistered:
        return tr8("未注册");
    case R::Unknown:
        break;
    }
    return QStringLiteral("-");
}

QString simText(ModemHealth::Sim sim)
{
    using S = ModemHealth::Sim;
    switch (sim) {
    case S::Ready:
        return tr8("正常");
    case S::Pin:
        return tr8("需要PIN码");
    case S::Puk:
        return tr8("需要PUK码");
    case S::Absent:
        return tr8("未插卡");
    case S::Error:
        return tr8("故障");
    case S::Unknown:
        break;
    }
    return QStringLiteral("-");
}

QString knownText(int value)
{
    return value < 0 ? QStringLiteral("-") : QString::number(value);
}

QString textOr(const QString& text)
{
    return text.isEmpty() ? QStringLiteral("-") : text;
}

// The time of the last message as the table shows it: the time alone today,
// the day and minute before.
QString lastText(const QString& stamp)
{
    const QDateTime when = QDateTime::fromString(stamp, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!when.isValid()) {
        return QStringLiteral("-");
    }
    return when.date() == AppClock::now().date() ? when.toString(QStringLiteral("HH:mm:ss"))
                                                 : when.toString(QStringLiteral("MM-dd HH:mm"));
}

} // namespace

MainWindow::~MainWindow() = default;

void MainWindow::onAppStart()
{
    commRunning = true;
    syncRunning = true;
    btSetCom->setVisible(false);
    btStartCom->setText(tr8("停止"));
    btSetDB->setVisible(false);
    btSetCard->setVisible(false);
    btStartDB->setText(tr8("停止"));
    host.start();
    if (!theSetting.loadError().isEmpty()) {
        xShowMessage(tr8("错误提示"),
                     tr8("设置文件 %1 %2。\n\n程序按默认设置运行，不改动该文件；在设置对话框中保存后，"
                         "原文件保留为 settings.ini.bad。")
                         .arg(theSetting.iniPath(), theSetting.loadError()),
                     nullptr);
    }
}

void MainWindow::onBtStartCom()
{
    commRunning = !commRunning;
    btSetCom->setVisible(!commRunning);
    btStartCom->setText(commRunning ? tr8("停止") : tr8("启动"));
    host.setModemsOn(commRunning);
}

void MainWindow::onBtStartDB()
{
    syncRunning = !syncRunning;
    btSetDB->setVisible(!syncRunning);
    btSetCard->setVisible(!syncRunning);
    btStartDB->setText(syncRunning ? tr8("停止") : tr8("启动"));
    host.setSyncOn(syncRunning);
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

void MainWindow::onBtRequeue()
{
    btRequeue->setVisible(false);
    host.requeueFailed();
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    appStartTimer.stop();
    host.stop();
    statusFile.remove();
    QMainWindow::closeEvent(event);
}

void MainWindow::showState(const RoadState& state)
{
    showPorts(state);
    if (!state.storeOpen && !state.storeError.isEmpty()) {
        const QString closed = tr8("本地库无法打开");
        setIfChanged(lbRecvTotal, closed);
        setIfChanged(lbLastNumber, closed);
        setIfChanged(lbLastTime, closed);
    } else {
        setIfChanged(lbRecvTotal, countText(state.total));
        setIfChanged(lbLastNumber, state.lastSender);
        setIfChanged(lbLastTime, state.lastRecvTime);
    }
    QString linkText = RoadState::linkText(state.link);
    if (state.link == LinkUp && state.linkEncrypted) {
        linkText += tr8("（加密）");
    }
    // The server in use on a second line, cut to the label; whole on hover.
    if (state.link == LinkUp && !state.linkServer.isEmpty()) {
        linkText += QLatin1Char('\n') + lbConnState->fontMetrics().elidedText(
                                            state.linkServer, Qt::ElideMiddle, lbConnState->width());
    }
    setIfChanged(lbConnState, linkText);
    if (lbConnState->toolTip() != state.linkServer) {
        lbConnState->setToolTip(state.linkServer);
    }
    setIfChanged(lbPending, countText(state.pending));
    setIfChanged(lbLastSync, state.lastHandledTime);
    showNote(state);
}

// The note under the sync panel: a store locked by another program, a fault
// the operator must see, the
// messages the server refused or that cannot be decoded, and why the link is
// down while it waits to try again.
void MainWindow::showNote(const RoadState& state)
{
    QStringList lines;
    if (state.storeLocked) {
        lines.append(tr8("本地库被其他程序锁定：短信暂留在SIM卡上，同步暂停"));
    }
    if (!state.alert.isEmpty()) {
        lines.append(state.alert);
    }
    if (state.failed > 0) {
        lines.append(tr8("数据库拒收 %1 条，修正后可重新同步").arg(state.failed));
    }
    if (state.undecodable > 0) {
        lines.append(tr8("无法解码 %1 条，已保存未同步").arg(state.undecodable));
    }
    const bool linkDown =
        state.link == LinkError || (state.link >= LinkRetryLast && state.link <= LinkRetryFirst);
    if (linkDown && !state.linkError.isEmpty()) {
        lines.append(tr8("原因：") + state.linkError);
    }
    // One line each, cut to the label's width; the tooltip holds them whole.
    QStringList shown;
    for (const QString& line : qAsConst(lines)) {
        shown.append(lbNote->fontMetrics().elidedText(line, Qt::ElideRight, lbNote->width()));
    }
    const QString note = lines.join(QLatin1Char('\n'));
    setIfChanged(lbNote, shown.join(QLatin1Char('\n')));
    if (lbNote->toolTip() != note) {
        lbNote->setToolTip(note);
    }
    btRequeue->setVisible(state.failed > 0);
}

QString MainWindow::portDetails(const PortState& port)
{
    const ModemHealth& health = port.health;
    QStringList lines;
    if (!port.fault.isEmpty()) {
        lines << tr8("故障：") + port.fault;
    }
    const QString signal =
        health.signal < 0 ? QStringLiteral("-")
                          : QStringLiteral("%1 (%2 dBm)").arg(health.signal).arg(-113 + 2 * health.signal);
    const QString storage = health.storageUsed < 0
                                ? QStringLiteral("-")
                                : knownText(health.storageUsed) + " / " + knownText(health.storageTotal);
    lines << tr8("端口：") + port.name << tr8("工作状态：") + port.stateText
          << tr8("设备编码：") + port.device << tr8("SIM卡号：") + port.sim
          << tr8("SIM卡状态：") + simText(health.sim) << tr8("信号：") + signal
          << tr8("网络：") + networkText(health.registration) << tr8("运营商：") + textOr(health.operatorName)
          << tr8("短信存储：") + storage << tr8("接收：") + QString::number(port.received)
          << tr8("最近接收：") + textOr(port.lastMessage);
    return lines.join(QLatin1Char('\n'));
}

void MainWindow::showPortDetails(const QModelIndex& index)
{
    if (index.row() >= 0 && index.row() < shownPorts.size()) {
        xShowMessage(tr8("端口详情"), portDetails(shownPorts.at(index.row())), portView);
    }
}

void MainWindow::showPorts(const RoadState& state)
{
    shownPorts = state.ports;
    const int rows = state.ports.size();
    if (portModel->rowCount() > rows) {
        portModel->removeRows(rows, portModel->rowCount() - rows);
    }
    bool namesChanged = false;
    for (int row = 0; row < rows; ++row) {
        if (row >= portModel->rowCount()) {
            portModel->insertRow(row);
        }
        const PortState& port = state.ports.at(row);
        const QString texts[PortColumnCount] = {port.name,
                                                port.stateText,
                                                knownText(port.health.signal),
                                                networkText(port.health.registration),
                                                textOr(port.health.operatorName),
                                                QString::number(port.received),
                                                lastText(port.lastMessage)};
        const QString details = portDetails(port);
        // A port that needs the operator is drawn in red, the reason first in its tooltip.
        const QVariant colour = port.fault.isEmpty() ? QVariant() : QVariant(QColor(200, 0, 0));
        for (int column = 0; column < PortColumnCount; ++column) {
            const QModelIndex index = portModel->index(row, column);
            if (index.data().toString() != texts[column]) {
                portModel->setData(index, texts[column]);
                namesChanged = namesChanged || column == ColumnPort;
            }
            if (index.data(Qt::ToolTipRole).toString() != details) {
                portModel->setData(index, details, Qt::ToolTipRole);
            }
            if (index.data(Qt::ForegroundRole) != colour) {
                portModel->setData(index, colour, Qt::ForegroundRole);
            }
        }
        const QModelIndex signal = portModel->index(row, ColumnSignal);
        if (signal.data(Qt::UserRole).toInt() != port.health.signal || !signal.data(Qt::UserRole).isValid()) {
            portModel->setData(signal, port.health.signal, Qt::UserRole);
        }
    }
    if (namesChanged) {
        sizePortColumns();
    }
}

// Every column but the state is as wide as its widest likely text; the state
// takes what is left, so that at the window's smallest size nothing scrolls
// sideways. The port column fits the names up to a limit; longer ones are cut
// in the middle.
void MainWindow::sizePortColumns()
{
    portView->ensurePolished();
    portView->header()->ensurePolished();
    const QFontMetrics cells = portView->fontMetrics();
    const QFontMetrics heads = portView->header()->fontMetrics();
    const int pad = cells.averageCharWidth() + 6;
    const auto fit = [&](int column, const QString& sample) {
        const QString head = portModel->headerData(column, Qt::Horizontal).toString();
        return qMax(cells.horizontalAdvance(sample), heads.horizontalAdvance(head)) + pad;
    };
    int portWidth = fit(ColumnPort, QStringLiteral("COM10"));
    for (int row = 0; row < portModel->rowCount(); ++row) {
        // The cell shows the last part of a path.
        const QString shown =
            portModel->index(row, ColumnPort).data().toString().section(QLatin1Char('/'), -1);
        portWidth = qMax(portWidth, cells.horizontalAdvance(shown) + pad);
    }
    const int widths[PortColumnCount] = {qMin(portWidth, fit(ColumnPort, QStringLiteral("ttyUSB100"))),
                                         0,
                                         fit(ColumnSignal, QStringLiteral("31")) + 30,
                                         fit(ColumnNetwork, tr8("搜网中")),
                                         fit(ColumnOperator, QStringLiteral("CHN-UNICOM")),
                                         fit(ColumnReceived, QStringLiteral("99999")),
                                         fit(ColumnLast, QStringLiteral("12-31 23:59"))};
    QHeaderView* header = portView->header();
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(cells.averageCharWidth() * 4);
    for (int column = 0; column < PortColumnCount; ++column) {
        if (column == ColumnState) {
            header->setSectionResizeMode(column, QHeaderView::Stretch);
        } else {
            header->setSectionResizeMode(column, QHeaderView::Interactive);
            portView->setColumnWidth(column, widths[column]);
        }
    }
}
