#include "TKeyList.h"

#include <algorithm>

namespace torvane {

TKeyList::TKeyList(QString closedCaption) : m_closedCaption(std::move(closedCaption)) {}

void TKeyList::refill(const QStringList& items)
{
    m_items = items;
    m_selected.assign(static_cast<size_t>(items.size()), false);
}

bool TKeyList::isSelected(int index) const
{
    return index >= 0 && index < count() && m_selected[static_cast<size_t>(index)];
}

void TKeyList::setSelected(int index, bool selected)
{
    if (index >= 0 && index < count()) {
        m_selected[static_cast<size_t>(index)] = selected;
    }
}

bool TKeyList::takeItem(int index)
{
    if (index < 0 || index >= count()) {
        return false;
    }
    const bool selected = m_selected[static_cast<size_t>(index)];
    m_items.removeAt(index);
    m_selected.erase(m_selected.begin() + index);
    return selected;
}

void TKeyList::insertItem(int index, const QString& item, bool selected)
{
    index = std::clamp(index, 0, count());
    m_items.insert(index, item);
    m_selected.insert(m_selected.begin() + index, selected);
}

void TKeyList::moveItem(int from, int to)
{
    if (from < 0 || to < 0 || from >= count() || to >= count() || from == to) {
        return;
    }
    const QString item = m_items[from];
    const bool selected = takeItem(from);
    insertItem(to, item, selected);
}

std::vector<int> TKeyList::selectedPositions(int limit) const
{
    std::vector<int> positions;
    for (int i = 0; i < limit && i < count(); ++i) {
        if (m_selected[static_cast<size_t>(i)]) {
            positions.push_back(i + 1);
        }
    }
    return positions;
}

QString TKeyList::caption() const
{
    return m_shown ? QStringLiteral("選択終了") : m_closedCaption;
}

void TKeyList::open(int height)
{
    m_height = height;
    m_shown = true;
}

void TKeyList::close()
{
    m_shown = false;
}

} // namespace torvane
