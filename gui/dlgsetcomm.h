#pragma once

#include <QDialog>

class XButtonCheck;
class XComboBox;
class XEditLine;

// Modal editor of the serial parameters: baud rate, flow control, the
// excluded ports and the SIM PIN. OK writes changed values to theSetting and settings.ini;
// nothing is restarted, the workers take the values at their next start.
class DlgSetComm : public QDialog
{
    Q_OBJECT
public:
    explicit DlgSetComm(QWidget* parent);

    XComboBox* baudBox() const { return cbBaud; }
    XButtonCheck* flowCheck() const { return ckFlow; }
    XEditLine* ignoreEdit() const { return edIgnore; }
    XEditLine* pinEdit() const { return edPin; }

public slots:
    void onBtOk();
    void onBtCancel();

private:
    XComboBox* cbBaud = nullptr;
    XButtonCheck* ckFlow = nullptr;
    XEditLine* edIgnore = nullptr;
    XEditLine* edPin = nullptr;
};
