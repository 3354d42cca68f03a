#pragma once

#include "TValueRules.h"

#include <QRect>
#include <QString>

#include <utility>
#include <vector>

namespace torvane {

class TWorkspace;

// The values of the data table that do not fit their fields, found once per load and per edit so that a
// repaint only looks a cell up: every problem in grid row and column order, searched by halves.
class TValueMarks {
public:
    // Checks the whole table (a load, a change of fields, rows or keys).
    void checkAll(const TWorkspace& ws);
    // Checks again the cells of `cells` (grid columns and rows) whose values changed. Returns whether one of
    // them is in a primary key's column: a repeated key may then have come or gone anywhere, which only
    // checkAll finds (the repeats found before stay until then).
    bool checkCells(const TWorkspace& ws, const QRect& cells);

    // How many cells hold a problem.
    int cellCount() const { return m_cellCount; }
    // The problems of cell (col, row).
    std::pair<const TValueProblem*, const TValueProblem*> at(int col, int row) const;
    // What the cell's problems are, for its tooltip: the type's expectation and the value found; empty for
    // a cell without problem.
    QString tip(const TWorkspace& ws, int col, int row) const;
    // The first problem cell after (col, row) in row order, or before it when !forward, wrapping round; the
    // cell itself when it is the only one; (-1, -1) when there is none.
    std::pair<int, int> next(int col, int row, bool forward) const;
    // The problems, in row and column order.
    const std::vector<TValueProblem>& problems() const { return m_problems; }
    const std::vector<TValueRule>& rules() const { return m_rules; }

private:
    void count();

    std::vector<TValueProblem> m_problems;
    std::vector<TValueRule> m_rules;
    std::vector<int> m_keyColumns;
    int m_cellCount = 0;
};

// "3 行目「DAY」の値 "2024-01-05": 日付 yyyymmdd（例 19880412）" for each of the first `limit` problems, one a
// line, with how many more there are: the list the save's question shows.
QString valueProblemList(const TWorkspace& ws, const std::vector<TValueProblem>& problems, int limit);

} // namespace torvane
