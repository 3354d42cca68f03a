#pragma once

#include <QModelIndex>

namespace torvane {

// The workspace's data and field tables hold their captions in row 0, and their views show only the rows
// below it: a view's row r is the table's row r + 1. These name that step wherever a view's row meets the
// table's.
constexpr int gridRowOf(int viewRow)
{
    return viewRow + 1;
}
inline int gridRowOf(const QModelIndex& index)
{
    return gridRowOf(index.row());
}
constexpr int viewRowOf(int gridRow)
{
    return gridRow - 1;
}

} // namespace torvane
