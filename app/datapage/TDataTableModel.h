#pragma once

#include "TCellPictures.h"
#include "TWorkspace.h"
#include "datapage/TValueMarks.h"

#include <QAbstractTableModel>
#include <QTimer>

namespace torvane {

// The text a tooltip shows of content kept with a field or a row (the child elements of its element in the
// packet): its beginning, with a note that it is written back as it was read.
QString keptContentTip(const QString& content);

// The data table as the view sees it: rows 1.. of the workspace's data table, its row 0 as the header.
// Cells are read from the workspace on demand, so a packet of any size shows at once. A large value shows as
// "<BLOB>" and is not edited; the content kept with a row shows as the tooltip of its cells. A picture in a
// bin.hex field shows as a thumbnail with what it is, and as itself in its tooltip.
//
// A value that does not fit its field shows on a soft red from the palette, with what the field expects in
// its tooltip (see TValueMarks).
//
// An empty cell is either no value or an empty string (written `NAME=""`); the empty string shows as a faint
// `""` with a tooltip that says what it is, and its EmptyStringRole is true.
class TDataTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Whether the cell holds an empty string rather than no value. Set true, it makes the cell one, as a
    // keystroke would (Esc gives back an empty string this way).
    static constexpr int EmptyStringRole = Qt::UserRole + 1;

    explicit TDataTableModel(TWorkspace& workspace, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The workspace changed behind the model's back (a field added or changed, a record added, a parse).
    void refresh();
    // The values in `cells` (grid columns and rows; row 1 is the first data row) changed behind the model's
    // back; the rows and columns stayed.
    void cellsChanged(const QRect& cells);
    // The key columns changed: the marks are found afresh (the view repaints them).
    void recheckValues();
    // Finds the repeated keys now when an edit of a key's value left them to be found (see m_keyCheck).
    void settleValueMarks();
    const TValueMarks& valueMarks() const { return m_marks; }

signals:
    // The number of cells whose value does not fit their field may have changed, or the marks were found
    // afresh.
    void valueMarksChanged(int cells);
    // The cell editor stored a keystroke in `index`, which held `previous` before (an empty string when
    // `previousEmptyString`).
    void cellTyped(const QModelIndex& index, const QString& previous, bool previousEmptyString);

private:
    // What an empty cell shows for `role` when it holds an empty string (EmptyStringRole for any empty
    // cell); invalid where the cell's other data decides.
    QVariant emptyStringData(const QModelIndex& index, int role) const;
    // The picture cell (col, row) holds, for the cells on screen only; nullptr for any other value.
    const TCellPictures::TPicture* pictureAt(int col, int row, QStringView cell) const;

    // What the cell shows for `role`, marks aside.
    QVariant cellData(const QModelIndex& index, int role) const;
    // The marks of the cells in `cells` (grid columns and rows), or of all when `cells` is null.
    void checkValues(const QRect& cells);

    TWorkspace& m_workspace;
    TCellPictures m_pictures;
    TValueMarks m_marks;
    // A value typed into a key's column is checked at once, but the repeated keys of a large table are found
    // again only when the typing pauses: every keystroke would otherwise go over the whole table.
    QTimer m_keyCheck;
};

} // namespace torvane
