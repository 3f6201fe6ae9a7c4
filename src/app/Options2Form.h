#pragma once

#include "alerts/AlertSettings.h"

#include <QDialog>
#include <QStringList>

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;

namespace valmora {

class TRadioGroup;

// The settings editor: domain credentials, start with the system, tray,
// temperature scale, which computers to watch, the IP ranges and how many
// computers are checked at once. Save writes
// every setting; a changed setting takes effect at the next start.
class TfrmOptions2 final : public QDialog
{
    Q_OBJECT
public:
    // Builds the dialog and loads the settings into it; raises what the
    // settings store raises.
    explicit TfrmOptions2(QWidget *owner = nullptr);

    // Shows the dialog modally; true when it was closed by Save (the settings
    // are then written). A failure to load the settings is reported in an
    // error box and gives false.
    static bool Execute(QWidget *owner);

    void LoadOptions();
    // Writes every setting, in order; raises at the first write that fails.
    void SaveOptions();
    // The range texts of the list, in list order.
    QStringList Ranges() const;

    // Enables Edit and Delete exactly while a range is selected.
    void UpdateRangeActions();
    void acAddRangeExecute();
    void acEditExecute();
    void acDeleteRangeExecute();

    QGroupBox *gbImpersonation = nullptr;
    QLineEdit *edDomainName = nullptr;
    QLineEdit *edDomainPassword = nullptr;
    QPushButton *btnSave = nullptr;
    QPushButton *btnCancel = nullptr;
    QCheckBox *chbRunatwindowsStart = nullptr;
    QCheckBox *chbMinimizeToTray = nullptr;
    QCheckBox *chbSectorWarnings = nullptr;
    QLabel *lbChecksAtOnce = nullptr;
    QSpinBox *seChecksAtOnce = nullptr;
    TRadioGroup *rgTemperatureScale = nullptr;
    TRadioGroup *rgSearchKind = nullptr;
    QGroupBox *GroupBox1 = nullptr;
    QListWidget *lbxRange = nullptr;
    QPushButton *btnAdd = nullptr;
    QPushButton *btnDelete = nullptr;
    QPushButton *btnEdit = nullptr;
    QAction *acAddRange = nullptr;
    QAction *acEdit = nullptr;
    QAction *acDeleteRange = nullptr;
    // Opens the "Alerts" page; what it holds is saved with the other settings.
    QPushButton *btnAlerts = nullptr;
    alerts::TAlertSettings AlertSettings;
    void btnAlertsClick();

private:
    void layOut();
    void btnSaveClick();
    bool hasSelectedRange() const;
};

// The main window's Options command: shows the dialog and, when Save was
// pressed, the message that the program must be started again. True after Save.
bool ExecuteOptionsCommand(QWidget *owner);

} // namespace valmora
