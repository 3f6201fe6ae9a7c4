#include "DriveView.h"

#include "AttrInfo.h"
#include "FlowLayout.h"
#include "MessageBox.h"
#include "StateStore.h"

#include "drivedata/Verdicts.h"
#include "foundation/DateTime.h"
#include "foundation/LogSystem.h"
#include "foundation/Options.h"
#include "foundation/Settings.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QFrame>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

constexpr QSize kDriveButtonSize(150, 32);
constexpr int kInfoHeight = 90;
constexpr int kNoteHeight = 90;
// What the drive view shows for a figure the drive did not give.
const QString kUnknownValue = u"\u2013"_s;

bool hasAttribute(const TDriveInformation &drive, int id)
{
    for (int i = 0; i < drive.UsedSlots(); ++i)
        if (drive.AttrId[static_cast<std::size_t>(i)] == id)
            return true;
    return false;
}

std::int32_t low32(std::int64_t raw)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(raw & 0xffffffff));
}

// The note is yellow for an attribute whose growth predicts failure, else in the window colour.
void setNoteColour(QPlainTextEdit *note, bool warning)
{
    QPalette palette = note->palette();
    palette.setColor(QPalette::Base, warning ? QColor(255, 255, 0) : QApplication::palette().color(QPalette::Base));
    note->setPalette(palette);
}

} // namespace

QString FormatTemperature(int value, int scale)
{
    switch (scale) {
    case 0:
        return u"%1%2C"_s.arg(value).arg(QChar(0x00B0));
    case 1:
        return u"%1%2F"_s.arg(value * 9 / 5 + 32).arg(QChar(0x00B0));
    default:
        return QString();
    }
}

TDriveView::TDriveView(const TSMARTAttrDecription &descriptions, TStateStore &state, QIcon driveImage,
                       QWidget *parent)
    : QWidget(parent)
    , m_descriptions(descriptions)
    , m_state(state)
    , m_driveImage(std::move(driveImage))
{
    setObjectName(u"Panel4"_s);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    lbReadReason = new QLabel(this);
    lbReadReason->setObjectName(u"lbReadReason"_s);
    lbReadReason->setWordWrap(true);
    lbReadReason->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lbReadReason->setContentsMargins(5, 4, 4, 4);
    lbReadReason->hide();
    layout->addWidget(lbReadReason);

    pnDrive = new QFrame(this);
    pnDrive->setObjectName(u"pnDrive"_s);
    pnDrive->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_buttonLayout = new TFlowLayout(pnDrive);
    // The buttons sit just inside the frame.
    m_buttonLayout->setContentsMargins(0, 0, 0, 0);
    m_buttonGroup = new QButtonGroup(this);
    m_buttonGroup->setExclusive(true);
    layout->addWidget(pnDrive);

    pnInfo = new QWidget(this);
    pnInfo->setObjectName(u"pnInfo"_s);
    pnInfo->setFixedHeight(kInfoHeight);
    auto *info = new QGridLayout(pnInfo);
    info->setContentsMargins(5, 5, 4, 4);
    info->setHorizontalSpacing(5);
    info->setVerticalSpacing(2);
    const auto label = [this](const QString &name) {
        auto *l = new QLabel(pnInfo);
        l->setObjectName(name);
        l->setFixedHeight(18);
        return l;
    };
    lbManufacturerModelInfo = label(u"lbManufacturerModelInfo"_s);
    lbDriveSize = label(u"lbDriveSize"_s);
    lbTemperature = label(u"lbTemperature"_s);
    lbLastReadoutDate = label(u"lbLastReadoutDate"_s);
    lbPowerOnCount = label(u"lbPowerOnCount"_s);
    acPowerOnCount = new QAction(u"+"_s, this);
    acPowerOnCount->setObjectName(u"acPowerOnCount"_s);
    connect(acPowerOnCount, &QAction::triggered, this, [this] { Guarded(this, [this] { acPowerOnCountExecute(); }); });
    btnPowerOnCount = new QToolButton(pnInfo);
    btnPowerOnCount->setObjectName(u"btnPowerOnCount"_s);
    btnPowerOnCount->setDefaultAction(acPowerOnCount);
    btnPowerOnCount->setFixedSize(23, 22);
    // The readout date starts where the temperatures' line leaves room for it.
    info->setColumnMinimumWidth(0, 348);
    info->setColumnStretch(1, 1);
    info->addWidget(lbManufacturerModelInfo, 0, 0, 1, 3);
    info->addWidget(lbDriveSize, 1, 0, 1, 3);
    info->addWidget(lbTemperature, 2, 0);
    info->addWidget(lbLastReadoutDate, 2, 1, 1, 2);
    info->addWidget(lbPowerOnCount, 3, 0, 1, 2);
    info->addWidget(btnPowerOnCount, 3, 2);
    // The "+" keeps its distance to the right edge.
    info->setColumnMinimumWidth(3, 40);
    layout->addWidget(pnInfo);

    m_attributes = new TAttributeTableModel(this);
    lvSmartData = new QTreeView(this);
    lvSmartData->setObjectName(u"lvSmartData"_s);
    lvSmartData->setModel(m_attributes);
    lvSmartData->setRootIsDecorated(false);
    lvSmartData->setItemsExpandable(false);
    lvSmartData->setUniformRowHeights(true);
    lvSmartData->setSelectionMode(QAbstractItemView::SingleSelection);
    lvSmartData->header()->setStretchLastSection(false);
    for (int i = 0; i < TAttributeTableModel::ColumnCount; ++i)
        lvSmartData->header()->resizeSection(i, 50);
    connect(lvSmartData->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current) { attributeChanged(current); });
    acAcknowledgeWarning = new QAction(u"Acknowledge this warning"_s, this);
    acAcknowledgeWarning->setObjectName(u"acAcknowledgeWarning"_s);
    connect(acAcknowledgeWarning, &QAction::triggered, this,
            [this] { Guarded(this, [this] { acAcknowledgeWarningExecute(); }); });
    pmSmartData = new QMenu(this);
    pmSmartData->setObjectName(u"pmSmartData"_s);
    pmSmartData->addAction(acAcknowledgeWarning);
    lvSmartData->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lvSmartData, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        acAcknowledgeWarningUpdate();
        pmSmartData->popup(lvSmartData->viewport()->mapToGlobal(pos));
    });
    layout->addWidget(lvSmartData, 1);
    layout->addSpacing(10);

    memoInfo = new QPlainTextEdit(this);
    memoInfo->setObjectName(u"memoInfo"_s);
    memoInfo->setReadOnly(true);
    memoInfo->setFrameShape(QFrame::NoFrame);
    memoInfo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memoInfo->setFixedHeight(kNoteHeight);
    layout->addWidget(memoInfo);
}

void TDriveView::ShowDrives(TSharedDrives drives, bool withReadoutDate, const QString &reason)
{
    m_drives = std::move(drives);
    m_withReadoutDate = withReadoutDate;
    buildButtons();
    lbReadReason->setText(reason);
    lbReadReason->setVisible(!reason.isEmpty());
    const bool any = !m_buttons.empty();
    for (QWidget *w : std::initializer_list<QWidget *>{pnDrive, pnInfo, lvSmartData, memoInfo})
        w->setVisible(any);
    if (!any) {
        m_attributes->SetRows({});
        setVisible(!reason.isEmpty());
        return;
    }
    ShowDrive(0);
    show();
}

void TDriveView::Clear()
{
    hide();
    lbReadReason->clear();
    lbReadReason->hide();
    m_drives.reset();
    buildButtons();
    m_attributes->SetRows({});
    for (QLabel *l : {lbManufacturerModelInfo, lbDriveSize, lbTemperature, lbLastReadoutDate})
        l->clear();
    resetNote();
}

void TDriveView::buildButtons()
{
    for (TDriveButton &b : m_buttons)
        delete b.Button.data();
    m_buttons.clear();
    m_shownDrive = -1;
    if (!m_drives)
        return;
    for (int i = 0; i < m_drives->Count(); ++i) {
        const TDriveInformation &drive = m_drives->Items(i);
        auto *button = new QToolButton(pnDrive);
        button->setObjectName(u"DriveButton"_s + QString::number(i));
        button->setText(drive.Name);
        button->setIcon(m_driveImage);
        button->setIconSize(QSize(24, 24));
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setCheckable(true);
        button->setAutoRaise(true);
        button->setFixedSize(kDriveButtonSize);
        if (drive.IsFlagged()) {
            QPalette palette = button->palette();
            palette.setColor(QPalette::ButtonText, QColor(255, 0, 0));
            palette.setColor(QPalette::WindowText, QColor(255, 0, 0));
            button->setPalette(palette);
        }
        m_buttonGroup->addButton(button);
        connect(button, &QToolButton::clicked, this, [this, i] { ShowDrive(i); });
        m_buttonLayout->addWidget(button);
        m_buttons.push_back({button});
    }
}

void TDriveView::showPowerOnCount(std::int32_t hours)
{
    // A figure the drive does not report is shown as unknown, not as 0.
    const QString powerOn = m_hasPowerOn ? u"%1 hours (%2 minutes)"_s.arg(hours).arg(static_cast<qint64>(hours) * 60)
                                         : kUnknownValue;
    const QString cycles = m_hasPowerCycles ? QString::number(m_powerCycles) : kUnknownValue;
    lbPowerOnCount->setText(u"Raw data in minutes.Power on count: %1.Power cycle count: %2"_s.arg(powerOn, cycles));
}

void TDriveView::ShowDrive(int index)
{
    if (!m_drives || index < 0 || index >= static_cast<int>(m_buttons.size()) || index >= m_drives->Count())
        return;
    // The list stays alive for the whole call, whatever the window does meanwhile.
    const TSharedDrives drives = m_drives;
    const TDriveInformation &drive = drives->Items(index);
    m_shownDrive = index;
    resetNote();
    try {
        m_model = drive.Model;
        m_powerOnInMinutesByFamily = PowerOnInMinutes(drive);
        m_powerOnRaw = 0;
        m_powerCycles = 0;
        m_hasPowerOn = hasAttribute(drive, 9);
        m_hasPowerCycles = hasAttribute(drive, 12);
        std::int32_t hours = 0;
        const TDriveHealth &health = drive.Health;
        const std::optional<std::uint64_t> healthHours = health.Value(THealthField::PowerOnHours);
        const std::optional<std::uint64_t> healthCycles = health.Value(THealthField::PowerCycles)
                                                              ? health.Value(THealthField::PowerCycles)
                                                              : health.Value(THealthField::StartStopCycleCount);
        const bool healthTemperature = health.Value(THealthField::CompositeTemperature).has_value()
                                       || health.Value(THealthField::Temperature).has_value();
        lbManufacturerModelInfo->setText(
            u"%1 Model: %2 S/N:%3"_s.arg(drive.Manufacturer, drive.Model, drive.SerialNumber));
        lbDriveSize->setText(u"Size %1 MB (%2 bytes)"_s.arg(drive.Size / 1000000).arg(drive.Size));
        // The temperatures come from attribute 194, or 190 on drives without it; a drive without both gave none.
        const bool hasTemperature = hasAttribute(drive, 194) || hasAttribute(drive, 190);
        const int scale = TSettings::Current()->TemperatureScale;
        const auto temperature = [hasTemperature, scale](int value) {
            return hasTemperature ? FormatTemperature(value, scale) : kUnknownValue;
        };
        if (!hasTemperature && healthTemperature) {
            // NVMe drives and the storage classes tell the current temperature (and the storage classes the highest).
            const auto worst = health.Value(THealthField::TemperatureMax);
            lbTemperature->setText(u"Temperature.Current: %1 Worst: %2 Low: %3"_s.arg(
                FormatTemperature(drive.TemperatureCurrent, scale),
                worst ? FormatTemperature(drive.TemperatureWorst, scale) : kUnknownValue, kUnknownValue));
        } else {
            lbTemperature->setText(u"Temperature.Current: %1 Worst: %2 Low: %3"_s.arg(
                temperature(drive.TemperatureCurrent), temperature(drive.TemperatureWorst),
                temperature(drive.TemperatureLow)));
        }
        if (!m_withReadoutDate)
            lbLastReadoutDate->clear();
        else
            lbLastReadoutDate->setText(u"Last readout: %1"_s.arg(
                drives->ReadoutTime > 0 ? DateTimeText(DateTimeToQt(drives->ReadoutTime)) : kUnknownValue));

        std::vector<TAttributeRow> rows;
        for (int i = 0; i < drive.UsedSlots(); ++i) {
            const auto slot = static_cast<std::size_t>(i);
            const int id = drive.AttrId[slot];
            QString raw = QString::number(drive.AttrRaw[slot]);
            if (id == 9) {
                m_powerOnRaw = low32(drive.AttrRaw[slot]);
                hours = m_state.ReadDiskModelFlag(m_model, m_powerOnInMinutesByFamily) ? m_powerOnRaw / 60
                                                                                        : m_powerOnRaw;
                raw = QString::number(hours);
            }
            if (id == 12)
                m_powerCycles = low32(drive.AttrRaw[slot]);
            rows.push_back({id, m_descriptions.AttributeName(id), AttributeStateText(drive.AttrState[slot]),
                            QString::number(drive.AttrCurrent[slot]), QString::number(drive.AttrWorst[slot]),
                            QString::number(drive.AttrThreshold[slot]), raw, drive.AttrReason[slot], QString()});
        }
        // The figure's name from the descriptions, else the field's own.
        const auto healthName = [this](const QString &section) {
            return m_descriptions.ReadString(section, u"Name"_s, section);
        };
        for (int f = 0; f < kHealthFieldCount; ++f) {
            const auto field = static_cast<THealthField>(f);
            const QString section = HealthFieldName(field);
            if (health.Value(field)) {
                const QString threshold = field == THealthField::AvailableSpare
                                              ? health.ValueText(THealthField::AvailableSpareThreshold)
                                              : QString();
                rows.push_back({0, healthName(section), AttributeStateText(health.StateOf(field)),
                                health.ValueText(field), QString(), threshold, QString(), health.ReasonOf(field),
                                section});
            }
            if (field == THealthField::HealthStatus && !health.OperationalStatus.isEmpty())
                rows.push_back({0, healthName(u"OperationalStatus"_s), AttributeStateText(health.OperationalState),
                                health.OperationalStatus, QString(), QString(), QString(), health.OperationalReason,
                                u"OperationalStatus"_s});
        }
        // Without attribute 9 or 12 the health figures give the power-on hours and cycles.
        if (!m_hasPowerOn && healthHours) {
            m_hasPowerOn = true;
            hours = static_cast<std::int32_t>(std::min<std::uint64_t>(*healthHours, INT32_MAX));
        }
        if (!m_hasPowerCycles && healthCycles) {
            m_hasPowerCycles = true;
            m_powerCycles = static_cast<std::int32_t>(std::min<std::uint64_t>(*healthCycles, INT32_MAX));
        }
        m_attributes->SetRows(std::move(rows));
        showPowerOnCount(hours);
    } catch (const std::exception &e) {
        XLogSystem().LogException(e, 0);
        emit showFailed();
    }
    if (index < static_cast<int>(m_buttons.size()) && m_buttons[static_cast<std::size_t>(index)].Button)
        m_buttons[static_cast<std::size_t>(index)].Button->setChecked(true);
}

void TDriveView::acPowerOnCountExecute()
{
    const bool minutes = !m_state.ReadDiskModelFlag(m_model, m_powerOnInMinutesByFamily);
    m_state.WriteDiskModelFlag(m_model, minutes);
    showPowerOnCount(minutes ? m_powerOnRaw / 60 : m_powerOnRaw);
}

void TDriveView::acAcknowledgeWarningUpdate()
{
    const int slot = lvSmartData->currentIndex().isValid() ? lvSmartData->currentIndex().row() : -1;
    bool enabled = false;
    if (m_drives && m_shownDrive >= 0 && m_shownDrive < m_drives->Count() && slot >= 0) {
        // Every warning can be acknowledged, per drive (by its serial number) and attribute.
        const TDriveInformation &drive = m_drives->Items(m_shownDrive);
        const bool attributeWarns = slot < drive.UsedSlots() && drive.State(slot) == TAttributeState::Warning;
        enabled = (attributeWarns || acknowledgeableHealth(drive, slot) != 0) && !drive.SerialNumber.trimmed().isEmpty();
    }
    acAcknowledgeWarning->setEnabled(enabled);
}

int TDriveView::acknowledgeableHealth(const TDriveInformation &drive, int slot) const
{
    // The health rows follow the attributes; only the counts warn until acknowledged.
    const TAttributeRow *row = m_attributes->Row(slot);
    if (slot < drive.UsedSlots() || !row)
        return 0;
    const std::pair<THealthField, int> counts[] = {{THealthField::MediaErrors, kBaselineMediaErrors},
                                                   {THealthField::ReadErrorsUncorrected, kBaselineReadUncorrected},
                                                   {THealthField::WriteErrorsUncorrected, kBaselineWriteUncorrected}};
    for (const auto &[field, id] : counts)
        if (row->Section == HealthFieldName(field) && drive.Health.StateOf(field) == AttributeStateNumber(TAttributeState::Warning))
            return id;
    return 0;
}

void TDriveView::acAcknowledgeWarningExecute()
{
    acAcknowledgeWarningUpdate();
    if (!acAcknowledgeWarning->isEnabled())
        return;
    const int slot = lvSmartData->currentIndex().row();
    const int index = m_shownDrive;
    // The shown list is never changed: the acknowledged drives are a new list.
    const std::shared_ptr<TDriveList> changed = CopyDrives(*m_drives);
    TDriveInformation &drive = changed->Items(index);
    const int health = acknowledgeableHealth(drive, slot);
    AcknowledgeWarnings(drive, health != 0 ? health : drive.AttrId[static_cast<std::size_t>(slot)]);
    const TSharedDrives before = m_drives;
    // The buttons show the drives' flags: built again, with the same drive and row shown.
    ShowDrives(changed, m_withReadoutDate);
    ShowDrive(index);
    lvSmartData->setCurrentIndex(m_attributes->index(slot, 0));
    emit drivesChanged(before, m_drives);
}

void TDriveView::attributeChanged(const QModelIndex &current)
{
    const TAttributeRow *row = current.isValid() ? m_attributes->Row(current.row()) : nullptr;
    if (!row)
        return;
    const QString section = row->Section.isEmpty() ? QString::number(row->Id) : row->Section;
    setNoteColour(memoInfo, m_descriptions.AttributeWarning(section));
    // What the attribute is, then why it has its verdict.
    const QString description = m_descriptions.AttributeDescription(section);
    memoInfo->setPlainText(row->Reason.isEmpty() ? description : description + u"\n\nReason: "_s + row->Reason);
    memoInfo->moveCursor(QTextCursor::Start);
}

void TDriveView::resetNote()
{
    setNoteColour(memoInfo, false);
    memoInfo->clear();
}

} // namespace valmora
