#pragma once

#include <QDialog>

class XViewTable;

// Modal editor of the SIM-to-phone map. The table is a working copy; saving
// checks every row and only then replaces the map and writes settings.ini.
class DlgSetCard : public QDialog
{
    Q_OBJECT
public:
    explicit DlgSetCard(QWidget* parent);

    XViewTable* table() const { return tbCards; }

public slots:
    void onBtAdd();
    void onBtDel();
    void onBtOk();
    void onBtCancel();

private:
    // Checks the rows and, when all are good, stores them; false after the
    // operator has been shown the first bad row.
    bool checkAndSave();

    XViewTable* tbCards = nullptr;
};
