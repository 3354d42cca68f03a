#include "datapage/TFieldTableModel.h"

#include "commands/TGridRows.h"
#include "datapage/TDataTableModel.h"

namespace torvane {

TFieldTableModel::TFieldTableModel(const TWorkspace& workspace, QObject* parent)
    : QAbstractTableModel(parent), m_workspace(workspace)
{
}

int TFieldTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_workspace.SG_Field().rowCount() - 1;
}

int TFieldTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_workspace.SG_Field().colCount();
}

QVariant TFieldTableModel::data(const QModelIndex& index, int role) const
{
    if (checkIndex(index, CheckIndexOption::IndexIsValid) && role == Qt::ToolTipRole) {
        return keptContentTip(m_workspace.SG_Field().rowContent(gridRowOf(index)));
    }
    if (!checkIndex(index, CheckIndexOption::IndexIsValid) || (role != Qt::DisplayRole && role != Qt::EditRole)) {
        return {};
    }
    return m_workspace.SG_Field().cell(index.column(), gridRowOf(index));
}

QVariant TFieldTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= columnCount()) {
        return {};
    }
    return m_workspace.SG_Field().cell(section, 0);
}

Qt::ItemFlags TFieldTableModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void TFieldTableModel::refresh()
{
    beginResetModel();
    endResetModel();
}

} // namespace torvane
