#pragma once

#include "TWorkspace.h"

#include <QAbstractTableModel>

namespace torvane {

// The field table as the view sees it: rows 1.. of the workspace's field table, its row 0 as the header.
// Read-only: fields change only through the editor's buttons. The content kept with a field shows as the
// tooltip of its row.
class TFieldTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TFieldTableModel(const TWorkspace& workspace, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The workspace changed behind the model's back (an add, a change, a parse).
    void refresh();

private:
    const TWorkspace& m_workspace;
};

} // namespace torvane
