#include "TDataTableModel.h"

#include <QRect>

#include <algorithm>

namespace torvane {

TDataTableModel::TDataTableModel(TWorkspace& workspace, QObject* parent)
    : QAbstractTableModel(parent), m_workspace(workspace)
{
}

int TDataTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_workspace.SG_Data.rowCount() - 1;
}

int TDataTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_workspace.SG_Data.colCount();
}

QVariant TDataTableModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid) || (role != Qt::DisplayRole && role != Qt::EditRole)) {
        return {};
    }
    return m_workspace.SG_Data.cell(index.column(), index.row() + 1);
}

bool TDataTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid) || role != Qt::EditRole) {
        return false;
    }
    const QString text = value.toString();
    if (m_workspace.SG_Data.cell(index.column(), index.row() + 1) == text) {
        return true;
    }
    // Typing into cells is not an edit that asks for a rebuild; NeedsRebuild stays as it is.
    const QString previous = m_workspace.SG_Data.cell(index.column(), index.row() + 1);
    m_workspace.SG_Data.setCell(index.column(), index.row() + 1, text);
    emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    emit cellTyped(index, previous);
    return true;
}

QVariant TDataTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= columnCount()) {
        return {};
    }
    return m_workspace.SG_Data.cell(section, 0);
}

Qt::ItemFlags TDataTableModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable : Qt::NoItemFlags;
}

void TDataTableModel::refresh()
{
    beginResetModel();
    endResetModel();
}

void TDataTableModel::cellsChanged(const QRect& cells)
{
    const QModelIndex topLeft = index(std::max(cells.top() - 1, 0), std::max(cells.left(), 0));
    const QModelIndex bottomRight = index(std::min(cells.bottom() - 1, rowCount() - 1),
                                          std::min(cells.right(), columnCount() - 1));
    if (topLeft.isValid() && bottomRight.isValid()) {
        emit dataChanged(topLeft, bottomRight, {Qt::DisplayRole, Qt::EditRole});
    }
}

} // namespace torvane
