#include "gui/dlgsetcomm.h"

#include "core/mysetting.h"
#include "gui/dlgfields.h"
#include "gui/xbuttons.h"
#include "gui/xfactory.h"
#include "gui/xfonts.h"
#include "gui/xinputs.h"

#include <QRegularExpression>
#include <QRegularExpressionValidator>

namespace {

XLabel* addLabel(QWidget* parent, int y, const QString& text)
{
    auto* label = xCreateAtAs<XLabel>(parent, XTypeLabel, 50, y, 150, 40);
    label->setText(text);
    label->setXsFont(xTextFont(), 0, true);
    return label;
}

} // namespace

DlgSetComm::DlgSetComm(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("请选择硬件连接参数"));
    setFixedSize(500, 330);

    addLabel(this, 20, QStringLiteral("波特率："));
    cbBaud = xCreateAtAs<XComboBox>(this, XTypeComboBox, 200, 20, 220, 40);
    cbBaud->addItem(QStringLiteral("9600"));
    cbBaud->addItem(QStringLiteral("115200"));
    cbBaud->setXsFont(xTextFont(), 0, true);

    addLabel(this, 70, QStringLiteral("流  控："));
    ckFlow = xCreateAtAs<XButtonCheck>(this, XTypeButtonCheck, 200, 70, 200, 40);

    addLabel(this, 120, QStringLiteral("排  除："));
    edIgnore = xCreateAtAs<XEditLine>(this, XTypeEditLine, 200, 120, 200, 40);
    edIgnore->setXsFont(xTextFont(), 0, true);

    auto* hint = xCreateAtAs<XLabel>(this, XTypeLabel, 50, 160, 370, 40);
    hint->setText(QStringLiteral("（排除的串口将不再连接操作，串口之间逗号分隔）"));
    hint->setXsFont(QStringLiteral("12px"), 0, true);
    hint->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);

    // Sent once to a SIM that asks for it; a SIM that refuses it is not tried again.
    addLabel(this, 210, QStringLiteral("SIM PIN："));
    edPin = xCreateAtAs<XEditLine>(this, XTypeEditLine, 200, 210, 200, 40);
    edPin->setXsFont(xTextFont(), 0, true);
    edPin->setEchoMode(QLineEdit::PasswordEchoOnEdit);
    edPin->setPlaceholderText(QStringLiteral("可选（4-8位数字）"));
    edPin->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,8}")), edPin));

    auto* ok = xCreateAtAs<XButtonPush>(this, XTypeButtonPush, 80, 270, 150, 40);
    ok->setText(QStringLiteral("确定"));
    ok->setXsFont(xTextFont(), 0, true);
    auto* cancel = xCreateAtAs<XButtonPush>(this, XTypeButtonPush, 270, 270, 150, 40);
    cancel->setText(QStringLiteral("取消"));
    cancel->setXsFont(xTextFont(), 0, true);
    connect(ok, &QPushButton::clicked, this, &DlgSetComm::onBtOk);
    connect(cancel, &QPushButton::clicked, this, &DlgSetComm::onBtCancel);

    cbBaud->setCurrentIndex(theSetting.baudRate == 115200 ? 1 : 0);
    ckFlow->setChecked(theSetting.flowControl != 0);
    dlgShowValue(edIgnore, 300, theSetting.ignorePorts);
    dlgShowValue(edPin, 8, theSetting.simPin);
}

void DlgSetComm::onBtOk()
{
    const int baud = cbBaud->currentIndex() == 1 ? 115200 : 9600;
    const int flow = ckFlow->isChecked() ? 1 : 0;
    const QString ignore = edIgnore->text().trimmed();
    const QString pin = edPin->text().trimmed();
    if (dlgApply(
            this,
            std::tie(theSetting.baudRate, theSetting.flowControl, theSetting.ignorePorts, theSetting.simPin),
            std::make_tuple(baud, flow, ignore, pin))) {
        accept();
    }
}

void DlgSetComm::onBtCancel()
{
    reject();
}
