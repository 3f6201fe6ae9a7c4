#include "AttributeTableModel.h"

using namespace Qt::Literals::StringLiterals;

namespace valmora {

namespace {

// The figures are right-aligned, header and cells alike.
bool isFigure(int column)
{
    return column >= TAttributeTableModel::StateColumn;
}

} // namespace

TAttributeTableModel::TAttributeTableModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

int TAttributeTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int TAttributeTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

const TAttributeRow *TAttributeTableModel::Row(int row) const
{
    return row >= 0 && row < static_cast<int>(m_rows.size()) ? &m_rows[static_cast<std::size_t>(row)] : nullptr;
}

QVariant TAttributeTableModel::data(const QModelIndex &index, int role) const
{
    const TAttributeRow *row = index.isValid() ? Row(index.row()) : nullptr;
    if (!row)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case IdColumn:
            return row->Id > 0 ? QString::number(row->Id) : QString();
        case NameColumn:
            return row->Name;
        case StateColumn:
            return row->State;
        case CurrentColumn:
            return row->Current;
        case WorstColumn:
            return row->Worst;
        case ThresholdColumn:
            return row->Threshold;
        case RawColumn:
            return row->Raw;
        default:
            return {};
        }
    case Qt::ToolTipRole:
        return row->Reason.isEmpty() ? QVariant() : QVariant(row->Reason);
    case Qt::TextAlignmentRole:
        return isFigure(index.column()) ? QVariant(int(Qt::AlignRight | Qt::AlignVCenter)) : QVariant();
    default:
        return {};
    }
}

QVariant TAttributeTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::TextAlignmentRole)
        return isFigure(section) ? QVariant(int(Qt::AlignRight | Qt::AlignVCenter)) : QVariant();
    if (role != Qt::DisplayRole)
        return {};
    static const QStringList headers{u"#"_s,           u"Name"_s,      u"State"_s,    u"Current value"_s,
                                     u"Worst value"_s, u"Threshold"_s, u"Raw value"_s};
    return section >= 0 && section < headers.size() ? headers.at(section) : QString();
}

void TAttributeTableModel::SetRows(std::vector<TAttributeRow> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

} // namespace valmora
