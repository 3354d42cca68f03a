#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace torvane {

// One of the two key lists (primary key, default order): a copy of the field names whose selected items
// are the key's fields, and whether the list is open under its button.
class TKeyList {
public:
    explicit TKeyList(QString closedCaption);

    const QStringList& items() const { return m_items; }
    int count() const { return static_cast<int>(m_items.size()); }
    // Replaces the items and drops every selection.
    void refill(const QStringList& items);

    bool isSelected(int index) const;
    void setSelected(int index, bool selected);
    // Removes item `index` and returns whether it was selected; inserts an item with its selection; moves
    // an item with its selection. The other items keep theirs.
    bool takeItem(int index);
    void insertItem(int index, const QString& item, bool selected);
    void moveItem(int from, int to);
    // 1-based positions of the selected items among the first `limit` items, ascending.
    std::vector<int> selectedPositions(int limit) const;

    bool isShown() const { return m_shown; }
    // The button's caption: "選択終了" while the list is open, its own caption while closed.
    QString caption() const;
    int height() const { return m_height; }
    const QString& closedCaption() const { return m_closedCaption; }

    // Opens the list at the given height, or closes it.
    void open(int height);
    void close();

private:
    QString m_closedCaption;
    QStringList m_items;
    std::vector<bool> m_selected;
    bool m_shown = false;
    int m_height = 0;
};

} // namespace torvane
