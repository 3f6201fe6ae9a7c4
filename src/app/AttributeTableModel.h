#pragma once

// The attribute table of the drive shown: one row per attribute slot, then one
// per health figure of the drive (NVMe health log, storage classes).

#include <QAbstractTableModel>
#include <QStringList>

#include <vector>

namespace valmora {

struct TAttributeRow
{
    int Id = 0;
    // The texts of the columns after "#": name, state, current, worst, threshold, raw.
    QString Name;
    QString State;
    QString Current;
    QString Worst;
    QString Threshold;
    QString Raw;
    // Why the attribute has its verdict; shown as every cell's tooltip.
    QString Reason;
    // The section of its description; empty: the attribute number. A health
    // figure (no attribute number, Id 0) is described by its field name.
    QString Section;
};

class TAttributeTableModel final : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { IdColumn, NameColumn, StateColumn, CurrentColumn, WorstColumn, ThresholdColumn, RawColumn, ColumnCount };

    explicit TAttributeTableModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    void SetRows(std::vector<TAttributeRow> rows);
    // nullptr outside the table.
    const TAttributeRow *Row(int row) const;

private:
    std::vector<TAttributeRow> m_rows;
};

} // namespace valmora
