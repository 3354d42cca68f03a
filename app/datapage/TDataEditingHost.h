#pragma once

class QWidget;

namespace torvane {

// What the data page's editing needs from the page it works on: a place for the page-wide undo and redo,
// its views shown again after a command changed the workspace under them, and word that the work changed.
class TDataEditingHost {
public:
    // The page: undo and redo act whichever of its controls has the focus.
    virtual QWidget* pageWidget() = 0;
    // Rows or columns of the data table were added, removed or moved: the data table shows them again.
    virtual void refreshData() = 0;
    // The field list changed: the field table, the data table and the key lists show it again.
    virtual void refreshFieldViews() = 0;
    // A field was deleted or moved: the views show the field list again with field `fieldRow` (1-based,
    // within the list) current and loaded into the field editor, and the field table's columns refitted.
    virtual void showFieldsAt(int fieldRow) = 0;
    // Data columns `first` to `last` whose field has no width become as wide as their values (a read, an
    // import), and the data table shows the new widths.
    virtual void fitDataColumnsToValues(int first, int last) = 0;
    // The work changed: the window marks it unsaved.
    virtual void notifyEdited() = 0;

protected:
    ~TDataEditingHost() = default;
};

} // namespace torvane
