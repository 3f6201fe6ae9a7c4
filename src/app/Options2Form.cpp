#include "Options2Form.h"

#include "AlertsPage.h"
#include "FormHelpers.h"
#include "IPRangesForm.h"
#include "MessageBox.h"

#include "drivedata/Verdicts.h"
#include "foundation/Options.h"

#include <QAction>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cstdint>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

TfrmOptions2::TfrmOptions2(QWidget *owner)
    : QDialog(owner)
{
    setObjectName(u"frmOptions2"_s);
    setWindowTitle(u"Options"_s);
    setFont(FormFont());

    gbImpersonation = new QGroupBox(u"User/Password"_s, this);
    gbImpersonation->setObjectName(u"gbImpersonation"_s);
    edDomainName = AddLabeledEdit(gbImpersonation, u"edDomainName"_s, u"User name"_s);
    edDomainPassword = AddLabeledEdit(gbImpersonation, u"edDomainPassword"_s, u"Password"_s);
    ShowAsStars(edDomainPassword);

    btnSave = AddButton(this, u"btnSave"_s, u"Save"_s);
    btnCancel = AddButton(this, u"btnCancel"_s, u"Cancel"_s);

    chbRunatwindowsStart = new QCheckBox(u"Run when Windows start"_s, this);
    chbRunatwindowsStart->setObjectName(u"chbRunatwindowsStart"_s);
    chbMinimizeToTray = new QCheckBox(u"Hide in the tray"_s, this);
    chbMinimizeToTray->setObjectName(u"chbMinimizeToTray"_s);
    // Beside the buttons: the rules on pending, uncorrectable and growing sector counts.
    chbSectorWarnings = new QCheckBox(u"Warn on bad sectors"_s, this);
    chbSectorWarnings->setObjectName(u"chbSectorWarnings"_s);

    rgTemperatureScale = new TRadioGroup(this, u"rgTemperatureScale"_s, u"Temperature scale"_s,
                                         {u"Celsius"_s, u"Fahrenheit"_s}, 2);
    rgSearchKind = new TRadioGroup(this, u"rgSearchKind"_s, u"Show"_s,
                                   {u"This computer"_s, u"Network neighborhood"_s, u"IP ranges"_s}, 3);

    GroupBox1 = new QGroupBox(u"IP Ranges"_s, this);
    GroupBox1->setObjectName(u"GroupBox1"_s);
    lbxRange = new QListWidget(GroupBox1);
    lbxRange->setObjectName(u"lbxRange"_s);
    lbxRange->setSelectionMode(QAbstractItemView::SingleSelection);
    btnAdd = AddButton(GroupBox1, u"btnAdd"_s, u"Add"_s);
    btnEdit = AddButton(GroupBox1, u"btnEdit"_s, u"Edit"_s);
    btnDelete = AddButton(GroupBox1, u"btnDelete"_s, u"Delete"_s);

    acAddRange = new QAction(u"Add"_s, this);
    acAddRange->setObjectName(u"acAddRange"_s);
    acEdit = new QAction(u"Edit"_s, this);
    acEdit->setObjectName(u"acEdit"_s);
    acDeleteRange = new QAction(u"Delete"_s, this);
    acDeleteRange->setObjectName(u"acDeleteRange"_s);
    // Below the ranges: how many computers a cycle checks at the same time.
    lbChecksAtOnce = new QLabel(u"Computers checked at once"_s, this);
    lbChecksAtOnce->setObjectName(u"lbChecksAtOnce"_s);
    seChecksAtOnce = new QSpinBox(this);
    seChecksAtOnce->setObjectName(u"seChecksAtOnce"_s);
    seChecksAtOnce->setRange(1, TOptions::MaxChecksAtOnce);
    seChecksAtOnce->setFixedWidth(60);
    lbChecksAtOnce->setBuddy(seChecksAtOnce);
    btnAlerts = AddButton(this, u"btnAlerts"_s, u"Alerts..."_s);
    layOut();

    LinkButtonToAction(btnAdd, acAddRange);
    LinkButtonToAction(btnEdit, acEdit);
    LinkButtonToAction(btnDelete, acDeleteRange);
    connect(acAddRange, &QAction::triggered, this, &TfrmOptions2::acAddRangeExecute);
    connect(acEdit, &QAction::triggered, this, &TfrmOptions2::acEditExecute);
    connect(acDeleteRange, &QAction::triggered, this, &TfrmOptions2::acDeleteRangeExecute);

    connect(btnSave, &QPushButton::clicked, this, &TfrmOptions2::btnSaveClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btnAlerts, &QPushButton::clicked, this, &TfrmOptions2::btnAlertsClick);

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
                        btnAlerts,
                        chbSectorWarnings};
    for (std::size_t i = 1; i < std::size(chain); ++i)
        setTabOrder(chain[i - 1], chain[i]);

    LoadOptions();
    UpdateRangeActions();
}

void TfrmOptions2::layOut()
{
    QGridLayout *credentials =
        LabeledEditsInRow(gbImpersonation, {edDomainName, edDomainPassword}, {10, 4, 15, 8}, 6);
    credentials->setColumnStretch(0, 2);
    credentials->setColumnStretch(1, 1);

    auto *switches = new QHBoxLayout;
    switches->addWidget(chbRunatwindowsStart);
    switches->addSpacing(12);
    switches->addWidget(chbMinimizeToTray);
    switches->addStretch();

    auto *ranges = new QGridLayout(GroupBox1);
    ranges->setContentsMargins(2, 2, 14, 2);
    ranges->setHorizontalSpacing(14);
    ranges->addWidget(lbxRange, 0, 0, 4, 1);
    ranges->addWidget(btnAdd, 0, 1);
    ranges->addWidget(btnEdit, 1, 1);
    ranges->addWidget(btnDelete, 2, 1);
    ranges->setRowStretch(3, 1);

    auto *atOnce = new QHBoxLayout;
    atOnce->addWidget(lbChecksAtOnce);
    atOnce->addSpacing(8);
    atOnce->addWidget(seChecksAtOnce);
    atOnce->addStretch();
    atOnce->addWidget(btnAlerts);

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(chbSectorWarnings);
    bottom->addStretch();
    bottom->addWidget(btnCancel);
    bottom->addWidget(btnSave);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->setSpacing(6);
    layout->addWidget(gbImpersonation);
    layout->addLayout(switches);
    layout->addWidget(rgTemperatureScale);
    layout->addWidget(rgSearchKind);
    layout->addWidget(GroupBox1, 1);
    layout->addLayout(atOnce);
    layout->addLayout(bottom);
    // The dialog keeps its design size; the user cannot resize it.
    setFixedSize(400, 400);
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
    AlertSettings = alerts::TAlertSettings::Read();
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
    AlertSettings.Write();
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

void TfrmOptions2::btnAlertsClick()
{
    if (auto edited = TfrmAlerts::Execute(this, AlertSettings))
        AlertSettings = *edited;
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
