#include "datapage/TValueMarks.h"

#include "TPacketCheck.h"
#include "TWorkspace.h"

#include <algorithm>
#include <climits>

namespace torvane {

namespace {

bool before(const TValueProblem& a, const TValueProblem& b)
{
    return a.row != b.row ? a.row < b.row : a.column < b.column;
}

} // namespace

void TValueMarks::checkAll(const TWorkspace& ws)
{
    m_rules = valueRulesOf(ws);
    m_keyColumns.clear();
    for (const int position : ws.LB_PriKey().selectedPositions(ws.FieldCount())) {
        m_keyColumns.push_back(position - 1);
    }
    m_problems = checkValues(ws);
    count();
}

bool TValueMarks::checkCells(const TWorkspace& ws, const QRect& cells)
{
    if (static_cast<int>(m_rules.size()) != ws.FieldCount()) {
        checkAll(ws);
        return false;
    }
    // The rows are checked whole: a row that became blank, or stopped being so, lost or gained the faults of
    // its other cells too (a required value missing).
    const TStringGrid& data = ws.SG_Data();
    const int columns = static_cast<int>(m_rules.size());
    const int bottom = std::min(cells.bottom(), data.rowCount() - 1);
    const auto inCells = [&](const TValueProblem& p) { return p.fault != TValueFault::RepeatedKey; };
    const auto first = std::lower_bound(m_problems.begin(), m_problems.end(), TValueProblem{cells.top(), 0}, before);
    const auto last = std::upper_bound(first, m_problems.end(), TValueProblem{bottom, INT_MAX}, before);
    std::vector<TValueProblem> found(first, last);
    found.erase(std::remove_if(found.begin(), found.end(), inCells), found.end());
    for (int r = std::max(cells.top(), 1); r <= bottom; ++r) {
        if (!isRecordRow(data.gridRow(r))) {
            continue;
        }
        for (int c = 0; c < columns; ++c) {
            const TValueFault fault =
                checkValue(m_rules[static_cast<size_t>(c)], data.cellView(c, r), data.isEmptyString(c, r));
            if (fault != TValueFault::None) {
                found.push_back({r, c, fault, 0});
            }
        }
    }
    std::stable_sort(found.begin(), found.end(), before);
    const auto at = m_problems.erase(first, last);
    m_problems.insert(at, found.begin(), found.end());
    count();
    return std::any_of(m_keyColumns.begin(), m_keyColumns.end(),
                       [&](int c) { return c >= cells.left() && c <= cells.right(); });
}

void TValueMarks::count()
{
    m_cellCount = 0;
    for (size_t i = 0; i < m_problems.size(); ++i) {
        m_cellCount += i == 0 || before(m_problems[i - 1], m_problems[i]) ? 1 : 0;
    }
}

std::pair<const TValueProblem*, const TValueProblem*> TValueMarks::at(int col, int row) const
{
    const auto range = std::equal_range(m_problems.begin(), m_problems.end(), TValueProblem{row, col}, before);
    return {m_problems.data() + (range.first - m_problems.begin()),
            m_problems.data() + (range.second - m_problems.begin())};
}

QString TValueMarks::tip(const TWorkspace& ws, int col, int row) const
{
    const auto [first, last] = at(col, row);
    if (first == last) {
        return QString();
    }
    const TValueRule& rule = m_rules[static_cast<size_t>(col)];
    QStringList lines;
    for (const TValueProblem* p = first; p != last; ++p) {
        lines.append(QStringLiteral("%1 型の値として期待されるのは %2")
                         .arg(rule.code, expectedText(rule, p->fault, p->otherRow, true)));
    }
    lines.append(QStringLiteral("この値: %1")
                     .arg(shownValue(ws.SG_Data().cellView(col, row), ws.SG_Data().isEmptyString(col, row), true)));
    return lines.join(u'\n');
}

std::pair<int, int> TValueMarks::next(int col, int row, bool forward) const
{
    if (m_problems.empty()) {
        return {-1, -1};
    }
    const TValueProblem here{row, col};
    const TValueProblem* found = nullptr;
    if (forward) {
        const auto it = std::upper_bound(m_problems.begin(), m_problems.end(), here, before);
        found = it == m_problems.end() ? &m_problems.front() : &*it;
    } else {
        const auto it = std::lower_bound(m_problems.begin(), m_problems.end(), here, before);
        found = it == m_problems.begin() ? &m_problems.back() : &*(it - 1);
    }
    return {found->column, found->row};
}

QString valueProblemList(const TWorkspace& ws, const std::vector<TValueProblem>& problems, int limit)
{
    const std::vector<TValueRule> rules = valueRulesOf(ws);
    QStringList lines;
    for (const TValueProblem& p : problems) {
        if (lines.size() == limit) {
            lines.append(QStringLiteral("ほか %1 か所").arg(problems.size() - static_cast<size_t>(limit)));
            break;
        }
        const QStringView value = ws.SG_Data().cellView(p.column, p.row);
        lines.append(QStringLiteral("%1 行目「%2」の値 %3: %4")
                         .arg(QString::number(p.row), ws.FieldList().value(p.column),
                              shownValue(value, ws.SG_Data().isEmptyString(p.column, p.row), true),
                              expectedText(rules[static_cast<size_t>(p.column)], p.fault, p.otherRow, true)));
    }
    return lines.join(u'\n');
}

} // namespace torvane
