#include "ComputerListModel.h"

#include "discovery/ComputerNameCheck.h"
#include "refresh/ComputerCheck.h"

#include <QFont>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

// Computer rows carry their group's number; group rows carry 0.
constexpr quintptr kGroupRowId = 0;

} // namespace

TComputerGroup GroupFromState(int state)
{
    return state >= StateSuspected && state <= StateGood ? static_cast<TComputerGroup>(state)
                                                         : TComputerGroup::Unavailable;
}

int StateOfGroup(TComputerGroup group)
{
    return static_cast<int>(group);
}

std::shared_ptr<TDriveList> CopyDrives(const TDriveList &from)
{
    auto to = std::make_shared<TDriveList>();
    to->ComputerName = from.ComputerName;
    to->ReadoutTime = from.ReadoutTime;
    for (int i = 0; i < from.Count(); ++i) {
        auto copy = std::make_unique<TDriveInformation>();
        copy->Assign(from.Items(i));
        to->Add(std::move(copy));
    }
    return to;
}

TComputerListModel::TComputerListModel(QIcon computer, QIcon crossed, QObject *parent)
    : QAbstractItemModel(parent)
    , m_computer(std::move(computer))
    , m_crossed(std::move(crossed))
{
}

QModelIndex TComputerListModel::index(int row, int column, const QModelIndex &parent) const
{
    if (column < 0 || column >= ColumnCount || row < 0)
        return {};
    if (!parent.isValid())
        return row < kComputerGroupCount ? createIndex(row, column, kGroupRowId) : QModelIndex();
    if (parent.internalId() != kGroupRowId || parent.column() != 0)
        return {};
    const auto &rows = m_groups.at(static_cast<std::size_t>(parent.row()));
    if (row >= static_cast<int>(rows.size()))
        return {};
    return createIndex(row, column, static_cast<quintptr>(parent.row() + 1));
}

QModelIndex TComputerListModel::parent(const QModelIndex &child) const
{
    if (!child.isValid() || child.internalId() == kGroupRowId)
        return {};
    return createIndex(static_cast<int>(child.internalId()) - 1, 0, kGroupRowId);
}

int TComputerListModel::rowCount(const QModelIndex &parent) const
{
    if (!parent.isValid())
        return kComputerGroupCount;
    if (parent.internalId() != kGroupRowId || parent.column() != 0)
        return 0;
    return static_cast<int>(m_groups.at(static_cast<std::size_t>(parent.row())).size());
}

int TComputerListModel::columnCount(const QModelIndex &) const
{
    return ColumnCount;
}

bool TComputerListModel::hasChildren(const QModelIndex &parent) const
{
    return !parent.isValid() || (parent.internalId() == kGroupRowId && parent.column() == 0);
}

const TComputerRow *TComputerListModel::Computer(const QModelIndex &index) const
{
    if (!index.isValid() || index.model() != this || index.internalId() == kGroupRowId)
        return nullptr;
    const auto &rows = m_groups.at(static_cast<std::size_t>(index.internalId() - 1));
    return index.row() < static_cast<int>(rows.size()) ? &rows[static_cast<std::size_t>(index.row())] : nullptr;
}

QString ComputerReasonText(const TComputerRow &computer)
{
    if (computer.Group == TComputerGroup::Good || computer.Reason.isEmpty())
        return {};
    if (computer.ReasonTime == 0)
        return computer.Reason;
    return u"%1 (since %2)"_s.arg(computer.Reason, DateTimeText(DateTimeToQt(computer.ReasonTime)));
}

QVariant TComputerListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    if (index.internalId() == kGroupRowId) {
        const int state = index.row() + 1;
        if (role == GroupRole)
            return state;
        if (index.column() != NameColumn)
            return {};
        if (role == Qt::DisplayRole)
            return ComputerStateText(state);
        if (role == Qt::FontRole) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return {};
    }
    const TComputerRow *computer = Computer(index);
    if (!computer)
        return {};
    switch (role) {
    case NameRole:
        return computer->Name;
    case GroupRole:
        return StateOfGroup(computer->Group);
    case CrossRole:
        return computer->Cross;
    case DrivesRole:
        return QVariant::fromValue(computer->Drives);
    default:
        break;
    }
    if (index.column() != NameColumn)
        return {};
    if (role == Qt::DisplayRole)
        return computer->Name;
    if (role == Qt::DecorationRole)
        return Image(computer->Cross);
    if (role == Qt::ToolTipRole) {
        const QString reason = ComputerReasonText(*computer);
        return reason.isEmpty() ? QVariant() : QVariant(reason);
    }
    return {};
}

QVariant TComputerListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return section == NameColumn ? u"Name"_s : QString();
}

Qt::ItemFlags TComputerListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    if (index.internalId() == kGroupRowId)
        return Qt::ItemIsEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

QModelIndex TComputerListModel::GroupIndex(TComputerGroup group) const
{
    return createIndex(StateOfGroup(group) - 1, 0, kGroupRowId);
}

int TComputerListModel::lowerBound(const Group &rows, const QString &name)
{
    const auto it = std::lower_bound(rows.begin(), rows.end(), name, [](const TComputerRow &row, const QString &probe) {
        return CompareComputerNames(row.Name, probe) < 0;
    });
    return static_cast<int>(it - rows.begin());
}

QModelIndex TComputerListModel::Find(const QString &name) const
{
    for (std::size_t g = 0; g < m_groups.size(); ++g) {
        const Group &rows = m_groups[g];
        const int at = lowerBound(rows, name);
        if (at < static_cast<int>(rows.size()) && CompareComputerNames(rows[static_cast<std::size_t>(at)].Name, name) == 0)
            return createIndex(at, 0, static_cast<quintptr>(g + 1));
    }
    return {};
}

QModelIndex TComputerListModel::FirstComputer() const
{
    for (std::size_t g = 0; g < m_groups.size(); ++g)
        if (!m_groups[g].empty())
            return createIndex(0, 0, static_cast<quintptr>(g + 1));
    return {};
}

QStringList TComputerListModel::Names(TComputerGroup group) const
{
    QStringList names;
    for (const TComputerRow &row : groupOf(group))
        names.append(row.Name);
    return names;
}

QStringList TComputerListModel::Names() const
{
    QStringList names;
    for (const Group &rows : m_groups)
        for (const TComputerRow &row : rows)
            names.append(row.Name);
    return names;
}

int TComputerListModel::Count() const
{
    int count = 0;
    for (const Group &rows : m_groups)
        count += static_cast<int>(rows.size());
    return count;
}

void TComputerListModel::Clear()
{
    Reset({});
}

void TComputerListModel::Reset(std::vector<TComputerRow> rows)
{
    // Group by group rather than a model reset: the view keeps which groups are folded.
    std::array<Group, kComputerGroupCount> groups;
    for (TComputerRow &row : rows)
        groups.at(static_cast<std::size_t>(StateOfGroup(row.Group) - 1)).push_back(std::move(row));
    for (std::size_t g = 0; g < groups.size(); ++g) {
        const QModelIndex parent = createIndex(static_cast<int>(g), 0, kGroupRowId);
        if (!m_groups[g].empty()) {
            beginRemoveRows(parent, 0, static_cast<int>(m_groups[g].size()) - 1);
            m_groups[g].clear();
            endRemoveRows();
        }
        if (groups[g].empty())
            continue;
        std::stable_sort(groups[g].begin(), groups[g].end(), [](const TComputerRow &a, const TComputerRow &b) {
            return CompareComputerNames(a.Name, b.Name) < 0;
        });
        beginInsertRows(parent, 0, static_cast<int>(groups[g].size()) - 1);
        m_groups[g] = std::move(groups[g]);
        endInsertRows();
    }
}

QModelIndex TComputerListModel::Put(TComputerRow row)
{
    const QModelIndex found = Find(row.Name);
    Group &target = groupOf(row.Group);
    const QModelIndex targetParent = GroupIndex(row.Group);
    if (!found.isValid()) {
        const int at = lowerBound(target, row.Name);
        beginInsertRows(targetParent, at, at);
        target.insert(target.begin() + at, std::move(row));
        endInsertRows();
        return index(at, 0, targetParent);
    }
    const QModelIndex sourceParent = found.parent();
    Group &source = m_groups.at(static_cast<std::size_t>(sourceParent.row()));
    const int from = found.row();
    row.Name = source[static_cast<std::size_t>(from)].Name;
    if (&source == &target) {
        source[static_cast<std::size_t>(from)] = std::move(row);
        emit dataChanged(index(from, 0, sourceParent), index(from, ColumnCount - 1, sourceParent));
        return index(from, 0, sourceParent);
    }
    const int to = lowerBound(target, row.Name);
    beginMoveRows(sourceParent, from, from, targetParent, to);
    source.erase(source.begin() + from);
    target.insert(target.begin() + to, std::move(row));
    endMoveRows();
    const QModelIndex moved = index(to, 0, targetParent);
    emit dataChanged(moved, index(to, ColumnCount - 1, targetParent));
    return moved;
}

void TComputerListModel::Remove(const QString &name)
{
    const QModelIndex found = Find(name);
    if (!found.isValid())
        return;
    const QModelIndex parent = found.parent();
    beginRemoveRows(parent, found.row(), found.row());
    Group &rows = m_groups.at(static_cast<std::size_t>(parent.row()));
    rows.erase(rows.begin() + found.row());
    endRemoveRows();
}

} // namespace valmora
