#pragma once

// The computer list: five state groups, each holding its computers in name
// order. Group rows are the top level; computer rows are their children.

#include "drivedata/SmartTypes.h"
#include "foundation/DateTime.h"

#include <QAbstractItemModel>
#include <QIcon>
#include <QStringList>

#include <array>
#include <memory>
#include <vector>

namespace valmora {

// The groups in the order shown. Their numbers are the computer states of a
// check and of the state file.
enum class TComputerGroup : int {
    Suspected = 1,
    RpcUnavailable = 2,
    SmartNotSupported = 3,
    Unavailable = 4,
    Good = 5,
};
inline constexpr int kComputerGroupCount = 5;

// The one conversion between stored state numbers and groups: a number that
// is no state (a damaged file) counts as unavailable.
TComputerGroup GroupFromState(int state);
int StateOfGroup(TComputerGroup group);

// A computer's drives as the views see them: shared, and never changed once
// handed to the model (a change hands over a new list).
using TSharedDrives = std::shared_ptr<const TDriveList>;

struct TComputerRow
{
    QString Name;
    TComputerGroup Group = TComputerGroup::Good;
    // Unavailable now, while its last readout holds a flagged drive.
    bool Cross = false;
    TSharedDrives Drives = std::make_shared<const TDriveList>();
    // Why its last reading failed, and since when (the check stores both).
    QString Reason;
    TDateTime ReasonTime = 0;
};

// "REASON (since DATE)" for a computer that is not good and has a reason; else empty.
QString ComputerReasonText(const TComputerRow &computer);

// A list of its own with the drives, name and readout time of from.
std::shared_ptr<TDriveList> CopyDrives(const TDriveList &from);


class TComputerListModel final : public QAbstractItemModel
{
    Q_OBJECT
public:
    enum Role {
        NameRole = Qt::UserRole + 1,
        GroupRole,  // TComputerGroup as its number, for group and computer rows
        CrossRole,  // bool
        DrivesRole, // TSharedDrives
    };
    enum Column { NameColumn, FillColumn, ColumnCount };

    // The pictures of a computer without and with the red cross.
    TComputerListModel(QIcon computer, QIcon crossed, QObject *parent = nullptr);

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    // Group rows always show their expander, also while empty.
    bool hasChildren(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    QModelIndex GroupIndex(TComputerGroup group) const;
    // The computer of that name (ASCII letters in any case); invalid when none.
    QModelIndex Find(const QString &name) const;
    // nullptr for a group row or an invalid index.
    const TComputerRow *Computer(const QModelIndex &index) const;
    const TComputerRow *Computer(const QString &name) const { return Computer(Find(name)); }
    // The first computer in the order shown; invalid when the list is empty.
    QModelIndex FirstComputer() const;
    QStringList Names(TComputerGroup group) const;
    // Every computer, group by group.
    QStringList Names() const;
    int Count() const;
    QIcon Image(bool cross) const { return cross ? m_crossed : m_computer; }

    // Replaces every computer (the rebuild); each group is sorted once.
    void Reset(std::vector<TComputerRow> rows);
    // Adds the computer, or updates the one of that name (which keeps its
    // caption), at its place in the order of its group. Selections and the
    // current index follow a computer that changes group.
    QModelIndex Put(TComputerRow row);
    void Remove(const QString &name);
    void Clear();

private:
    using Group = std::vector<TComputerRow>;
    Group &groupOf(TComputerGroup group) { return m_groups.at(static_cast<std::size_t>(StateOfGroup(group) - 1)); }
    const Group &groupOf(TComputerGroup group) const
    {
        return m_groups.at(static_cast<std::size_t>(StateOfGroup(group) - 1));
    }
    // The first row of the group not ordered before name.
    static int lowerBound(const Group &rows, const QString &name);

    QIcon m_computer;
    QIcon m_crossed;
    std::array<Group, kComputerGroupCount> m_groups;
};

} // namespace valmora

Q_DECLARE_METATYPE(valmora::TSharedDrives)
