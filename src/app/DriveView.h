#pragma once

// The right side of the window: one button per drive of the computer shown,
// the pressed drive's identity and figures, its attribute table and the note
// on the selected attribute.

#include "AttributeTableModel.h"
#include "ComputerListModel.h"

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <vector>

class QAction;
class QButtonGroup;
class QFrame;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QToolButton;
class QTreeView;

namespace valmora {

class TFlowLayout;
class TSMARTAttrDecription;
class TStateStore;

// 35 degrees in scale 0 is "35°C", in scale 1 "95°F"; any other scale gives "".
QString FormatTemperature(int value, int scale);

class TDriveView final : public QWidget
{
    Q_OBJECT
public:
    TDriveView(const TSMARTAttrDecription &descriptions, TStateStore &state, QIcon driveImage, QWidget *parent = nullptr);

    // Shows the drives with the first one pressed; hidden when there are none.
    // The readout date is given only for a selected computer. A reason (why
    // the computer is not good, in full words) is shown above the drives, and
    // also when there are none.
    void ShowDrives(TSharedDrives drives, bool withReadoutDate, const QString &reason = {});
    // Hidden, without buttons and texts.
    void Clear();
    void ShowDrive(int index);
    const TSharedDrives &Drives() const { return m_drives; }
    int ShownDrive() const { return m_shownDrive; }

    struct TDriveButton
    {
        QPointer<QToolButton> Button;
    };
    const std::vector<TDriveButton> &DriveButtons() const { return m_buttons; }

    void acPowerOnCountExecute();
    // Accepts the selected attribute's warning for the drive shown.
    void acAcknowledgeWarningExecute();
    void acAcknowledgeWarningUpdate();

    QLabel *lbReadReason = nullptr;
    QFrame *pnDrive = nullptr;
    QWidget *pnInfo = nullptr;
    QLabel *lbManufacturerModelInfo = nullptr;
    QLabel *lbDriveSize = nullptr;
    QLabel *lbTemperature = nullptr;
    QLabel *lbLastReadoutDate = nullptr;
    QLabel *lbPowerOnCount = nullptr;
    QToolButton *btnPowerOnCount = nullptr;
    QTreeView *lvSmartData = nullptr;
    QPlainTextEdit *memoInfo = nullptr;
    QMenu *pmSmartData = nullptr;
    QAction *acPowerOnCount = nullptr;
    QAction *acAcknowledgeWarning = nullptr;

signals:
    // An acknowledgement gave the drives shown a new list: the computer's drives are now these.
    void drivesChanged(const TSharedDrives &before, const TSharedDrives &after);
    // Showing a drive failed (logged); the caller may rebuild the list.
    void showFailed();

private:
    // The baseline number of the health count the table's row shows when it
    // warns and can be acknowledged; 0 otherwise.
    int acknowledgeableHealth(const TDriveInformation &drive, int slot) const;
    void buildButtons();
    void showPowerOnCount(std::int32_t hours);
    void attributeChanged(const QModelIndex &current);
    // The note below the table back to the window colour, and empty.
    void resetNote();

    const TSMARTAttrDecription &m_descriptions;
    TStateStore &m_state;
    QIcon m_driveImage;
    TFlowLayout *m_buttonLayout = nullptr;
    QButtonGroup *m_buttonGroup = nullptr;
    TAttributeTableModel *m_attributes = nullptr;
    std::vector<TDriveButton> m_buttons;
    TSharedDrives m_drives;
    int m_shownDrive = -1;
    bool m_withReadoutDate = false;

    // The drive shown: its model, figures 9 and 12, and where the
    // hours/minutes choice starts until the user sets it for the model.
    QString m_model;
    std::int32_t m_powerOnRaw = 0;
    std::int32_t m_powerCycles = 0;
    bool m_hasPowerOn = false;
    bool m_hasPowerCycles = false;
    bool m_powerOnInMinutesByFamily = false;
};

} // namespace valmora
