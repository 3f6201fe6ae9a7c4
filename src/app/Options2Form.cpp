#include "Options2Form.h"

#include "FormHelpers.h"
#include "IPRangesForm.h"
#include "MessageBox.h"

#include "drivedata/Verdicts.h"
#include "foundation/Options.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>

#include <algorithm>
#include <cstdint>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

TfrmOptions2::TfrmOptions2(QWidget *owner)
    : QDialog(owner)
{
    setObjectName(u"frmOptions2"_s);
    setWindowTitle(u"Options"_s);
    setFont(FormFont());
    setFixedSize(400, 400);

    gbImpersonation = new QGroupBox(u"User/Password"_s, this);
    gbImpersonation->setObjectName(u"gbImpersonation"_s);
    gbImpersonation->setGeometry(0, 8, 393, 66);
    edDomainName = AddLabeledEdit(gbImpersonation, u"edDomainName"_s, u"User name"_s, QRect(10, 30, 241, 21));
    edDomainPassword = AddLabeledEdit(gbImpersonation, u"edDomainPassword"_s, u"Password"_s, QRect(257, 30, 121, 21));
    ShowAsStars(edDomainPassword);

    btnSave = AddButton(this, u"btnSave"_s, u"Save"_s, QRect(317, 367, 75, 25));
    btnCancel = AddButton(this, u"btnCancel"_s, u"Cancel"_s, QRect(236, 367, 75, 25));

    chbRunatwindowsStart = new QCheckBox(u"Run when Windows start"_s, this);
    chbRunatwindowsStart->setObjectName(u"chbRunatwindowsStart"_s);
    chbRunatwindowsStart->setGeometry(8, 91, 137, 17);
    chbMinimizeToTray = new QCheckBox(u"Hide in the tray"_s, this);
    chbMinimizeToTray->setObjectName(u"chbMinimizeToTray"_s);
    chbMinimizeToTray->setGeometry(174, 91, 137, 17);
    GrowToText(chbRunatwindowsStart);
    GrowToText(chbMinimizeToTray);
    // Beside the buttons: the rules on pending, uncorrectable and growing sector counts.
    chbSectorWarnings = new QCheckBox(u"Warn on bad sectors"_s, this);
    chbSectorWarnings->setObjectName(u"chbSectorWarnings"_s);
    chbSectorWarnings->setGeometry(8, 371, 200, 17);
    GrowToText(chbSectorWarnings);

    rgTemperatureScale = new TRadioGroup(this, u"rgTemperatureScale"_s, u"Temperature scale"_s,
                                         {u"Celsius"_s, u"Fahrenheit"_s}, 2, QRect(8, 114, 380, 40));
    rgSearchKind = new TRadioGroup(this, u"rgSearchKind"_s, u"Show"_s,
                                   {u"This computer"_s, u"Network neighborhood"_s, u"IP ranges"_s}, 3,
                                   QRect(8, 160, 384, 49));

    GroupBox1 = new QGroupBox(u"IP Ranges"_s, this);
    GroupBox1->setObjectName(u"GroupBox1"_s);
    GroupBox1->setGeometry(8, 215, 384, 105);
    lbxRange = new QListWidget(GroupBox1);
    lbxRange->setObjectName(u"lbxRange"_s);
    lbxRange->setSelectionMode(QAbstractItemView::SingleSelection);
    // Along the group's left edge, inside its frame and below its caption, 279 wide.
    lbxRange->setGeometry(2, 15, 279, GroupBox1->height() - 15 - 2);
    btnAdd = AddButton(GroupBox1, u"btnAdd"_s, u"Add"_s, QRect(295, 16, 75, 25));
    btnEdit = AddButton(GroupBox1, u"btnEdit"_s, u"Edit"_s, QRect(295, 47, 75, 25));
    btnDelete = AddButton(GroupBox1, u"btnDelete"_s, u"Delete"_s, QRect(295, 77, 75, 25));

    acAddRange = new QAction(u"Add"_s, this);
    acAddRange->setObjectName(u"acAddRange"_s);
    acEdit = new QAction(u"Edit"_s, this);
    acEdit->setObjectName(u"acEdit"_s);
    acDeleteRange = new QAction(u"Delete"_s, this);
    acDeleteRange->setObjectName(u"acDeleteRange"_s);
    // Below the ranges: how many computers a cycle checks at the same time.
    lbChecksAtOnce = new QLabel(u"Computers checked at once"_s, this);
    lbChecksAtOnce->setObjectName(u"lbChecksAtOnce"_s);
    lbChecksAtOnce->setGeometry(8, 331, 170, 17);
    GrowToText(lbChecksAtOnce);
    seChecksAtOnce = new QSpinBox(this);
    seChecksAtOnce->setObjectName(u"seChecksAtOnce"_s);
    seChecksAtOnce->setRange(1, TOptions::MaxChecksAtOnce);
    seChecksAtOnce->setGeometry(std::max(180, lbChecksAtOnce->geometry().right() + 8), 328, 60, 21);
    lbChecksAtOnce->setBuddy(seChecksAtOnce);

    LinkButtonToAction(btnAdd, acAddRange);
    LinkButtonToAction(btnEdit, acEdit);
    LinkButtonToAction(btnDelete, acDeleteRange);
    connect(acAddRange, &QAction::triggered, this, &TfrmOptions2::acAddRangeExecute);
    connect(acEdit, &QAction::triggered, this, &TfrmOptions2::acEditExecute);
    connect(acDeleteRange, &QAction::triggered, this, &TfrmOptions2::acDeleteRangeExecute);

    connect(btnSave, &QPushButton::clicked, this, &TfrmOptions2::btnSaveClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    // The selection and the number of items decide Edit and Delete.
    connect(lbxRange, &QListWidget::itemSelectionChanged, this, &TfrmOptions2::UpdateRangeActions);
    connect(lbxRange, &QListWidget::currentRowChanged, this, &TfrmOptions2::UpdateRangeActions);
    connect(lbxRange->model(), &QAbstractItemModel::rowsInserted, this, &TfrmOptions2::UpdateRangeActions);
    connect(lbxRange->model(), &QAbstractItemModel::rowsRemoved, this, &TfrmOptions2::UpdateRangeActions);

    QWidget *chain[] = {edDomainName,
                        edDomainPassword,
                        btnSave,
                        btnCancel,
                        chbRunatwindowsStart,
                        chbMinimizeToTray,
                        rgTemperatureScale->Item(0),
                        rgTemperatureScale->Item(1),
                        rgSearchKind->Item(0),
                        rgSearchKind->Item(1),
                        rgSearchKind->Item(2),
                        lbxRange,
                        btnAdd,
                        btnDelete,
                        btnEdit,
                        seChecksAtOnce,
                        chbSectorWarnings};
    for (std::size_t i = 1; i < std::size(chain); ++i)
        setTabOrder(chain[i - 1], chain[i]);

    LoadOptions();
    UpdateRangeActions();
}

bool TfrmOptions2::Execute(QWidget *owner)
{
    try {
        TfrmOptions2 dialog(owner);
        return dialog.exec() == QDialog::Accepted;
    } catch (const std::exception &e) {
        ShowErrorBox(owner, e);
        return false;
    }
}

void TfrmOptions2::LoadOptions()
{
    chbMinimizeToTray->setChecked(TOptions::ReadMinimizeToTray());
    chbRunatwindowsStart->setChecked(TOptions::ReadRunAtWindowsStart());
    chbSectorWarnings->setChecked(TOptions::ReadSectorWarnings());
    rgTemperatureScale->SetItemIndex(TOptions::ReadTemperatureScale() & 0xFF);
    edDomainName->setText(TOptions::ReadUser());
    edDomainPassword->setText(TOptions::ReadUserP());
    rgSearchKind->SetItemIndex(TOptions::ReadSearchKind() & 0xFF);
    lbxRange->clear();
    lbxRange->addItems(TOptions::ReadIPRanges());
    seChecksAtOnce->setValue(TOptions::ReadChecksAtOnce());
}

void TfrmOptions2::SaveOptions()
{
    TOptions::WriteTemperatureScale(static_cast<std::uint8_t>(rgTemperatureScale->ItemIndex()));
    TOptions::WriteMinimizeToTray(chbMinimizeToTray->isChecked());
    TOptions::WriteRunAtWindowsStart(chbRunatwindowsStart->isChecked());
    TOptions::WriteUser(edDomainName->text());
    TOptions::WriteUserP(edDomainPassword->text());
    TOptions::WriteSearchKind(static_cast<std::uint8_t>(rgSearchKind->ItemIndex()));
    TOptions::WriteIPRanges(Ranges());
    TOptions::WriteSectorWarnings(chbSectorWarnings->isChecked());
    TOptions::WriteChecksAtOnce(seChecksAtOnce->value());
    // Judged by it from the next evaluation on, without a restart.
    TVerdictRules rules = CurrentVerdictRules();
    rules.SectorWarnings = chbSectorWarnings->isChecked();
    SetVerdictRules(std::move(rules));
}

QStringList TfrmOptions2::Ranges() const
{
    QStringList ranges;
    for (int i = 0; i < lbxRange->count(); ++i)
        ranges.append(lbxRange->item(i)->text());
    return ranges;
}

void TfrmOptions2::btnSaveClick()
{
    try {
        SaveOptions();
    } catch (const std::exception &e) {
        // The dialog stays open: what was not written is still on screen, and
        // the caller must not hear that the settings were changed.
        ShowErrorBox(this, e);
        return;
    }
    accept();
}

bool TfrmOptions2::hasSelectedRange() const
{
    const QListWidgetItem *current = lbxRange->currentItem();
    return lbxRange->count() > 0 && current != nullptr && current->isSelected();
}

void TfrmOptions2::UpdateRangeActions()
{
    const bool selected = hasSelectedRange();
    acEdit->setEnabled(selected);
    acDeleteRange->setEnabled(selected);
}

void TfrmOptions2::acAddRangeExecute()
{
    if (const std::optional<QString> range = TfrmIPRange::Execute(this))
        lbxRange->addItem(*range);
}

void TfrmOptions2::acEditExecute()
{
    if (!hasSelectedRange())
        return;
    QListWidgetItem *item = lbxRange->currentItem();
    if (const std::optional<QString> range = TfrmIPRange::Execute(this, item->text()))
        item->setText(*range);
}

void TfrmOptions2::acDeleteRangeExecute()
{
    if (!hasSelectedRange())
        return;
    delete lbxRange->takeItem(lbxRange->currentRow());
    // Nothing is selected after a deletion.
    lbxRange->setCurrentRow(-1);
    lbxRange->clearSelection();
    UpdateRangeActions();
}

bool ExecuteOptionsCommand(QWidget *owner)
{
    if (!TfrmOptions2::Execute(owner))
        return false;
    ShowMessageBox(owner, u"Attention"_s, u"Settings have been changed!\r\nPlease, run application again"_s);
    return true;
}

} // namespace valmora
