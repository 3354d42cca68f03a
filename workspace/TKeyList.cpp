#include "TKeyList.h"

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
