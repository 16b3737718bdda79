#include "gui/mainwindow.h"

#include "core/mysetting.h"
#include "gui/dlgsetcard.h"
#include "gui/dlgsetcomm.h"
#include "gui/dlgsetmysql.h"
#include "gui/xbuttons.h"
#include "gui/xfactory.h"
#include "gui/xinputs.h"
#include "gui/xviews.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QHeaderView>
#include <QStandardItemModel>

namespace {

enum PortColumn : int
{
    ColumnPort = 0,
    ColumnState = 1,
    ColumnDevice = 2,
    ColumnSim = 3
};

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

// The note under the sync panel: a fault the operator must see, the
// messages the server refused or that cannot be decoded, and why the link is
// down while it waits to try again.
void MainWindow::showNote(const RoadState& state)
{
    QStringList lines;
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

void MainWindow::showPorts(const RoadState& state)
{
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
        const QString texts[] = {port.name, port.stateText, port.device, port.sim};
        for (int column = ColumnPort; column <= ColumnSim; ++column) {
            const QModelIndex index = portModel->index(row, column);
            if (index.data().toString() != texts[column]) {
                portModel->setData(index, texts[column]);
                // A cell too narrow for its text still shows all of it on hover.
                portModel->setData(index, texts[column], Qt::ToolTipRole);
                namesChanged = namesChanged || column == ColumnPort;
            }
        }
    }
    if (namesChanged) {
        // The whole port name, however long: a path of a virtual port too.
        portView->resizeColumnToContents(ColumnPort);
        const int wanted = qMax(160, qMin(portView->columnWidth(ColumnPort) + 20, 480));
        portView->setColumnWidth(ColumnPort, wanted);
        // The state column gives up what the port column takes, so that the
        // SIM column stays in view.
        portView->setColumnWidth(ColumnState, qMax(220, 540 - (wanted - 160)));
    }
}
