#pragma once

#include <QStringView>

#include <vector>

namespace torvane {

// Names found with letter case ignored, exactly as QStringView::compare(..., Qt::CaseInsensitive) ignores
// it (each code point case-folded), each with a value. A packet may define a hundred thousand fields, and
// both the check for a taken name and the lookup of a row's attribute names go through all of them: the
// index keeps a flat table of hashes and views of the names, with no allocation a name, so that building
// it takes a few milliseconds and a lookup looks at the name itself only when its hash matches.
class TNameIndex {
public:
    // Empties the index and makes room for `count` names.
    void reset(qsizetype count);
    // Adds `name` with `value`, or gives a name that is there already `value`. The index keeps a view of
    // `name`: its characters must stay where they are while the index is used.
    void insert(QStringView name, int value);
    // Adds `name` with `value` unless a name equal to it is there already: returns that name's value then,
    // and -1 when `name` was added. One look-up where find() and insert() would take two.
    int add(QStringView name, int value);
    // The value of the name equal to `name` with letter case ignored; -1 when there is none.
    int find(QStringView name) const;
    // Starts fetching from memory what a look-up of `name` will read first, so that work done before that
    // look-up hides the wait: in an index of a hundred thousand names nearly every look-up misses the cache.
    void prefetch(QStringView name) const;
    // How many different names the index holds.
    qsizetype size() const { return static_cast<qsizetype>(m_names.size()); }

    static bool equalIgnoringCase(QStringView a, QStringView b);

private:
    struct TSlot {
        quint32 hash;
        qint32 entry; // into m_names and m_values; -1 for a free slot
    };
    // The slot holding a name equal to `name`, or the free slot where it would go.
    size_t slotOf(QStringView name, quint32 hash) const;
    void grow();

    std::vector<TSlot> m_slots; // a power of two long, at most four fifths full
    std::vector<QStringView> m_names;
    std::vector<int> m_values;
};

} // namespace torvane
