#pragma once

#include <QTableView>

namespace torvane {

// The field table. Its rows are selected whole, so Tab and Shift+Tab move to the next or previous row (and
// so load it into the editor, as the arrow keys do); past the first or last row they go on to the
// neighbouring control, keeping the group's tab order.
class TFieldGrid : public QTableView {
public:
    using QTableView::QTableView;

protected:
    bool focusNextPrevChild(bool next) override
    {
        const QModelIndex current = currentIndex();
        const int target = current.isValid() ? current.row() + (next ? 1 : -1) : -1;
        if (hasFocus() && model() && target >= 0 && target < model()->rowCount()) {
            setCurrentIndex(model()->index(target, current.column()));
            return true;
        }
        return QTableView::focusNextPrevChild(next);
    }
};

} // namespace torvane
