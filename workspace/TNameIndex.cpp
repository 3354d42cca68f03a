#include "TNameIndex.h"

#include <QChar>

namespace torvane {

namespace {

// The case-folded code point at text[i], moving i past it (past both halves of a surrogate pair). Folding
// keeps a code point in its plane, so two texts equal once folded have their code points at the same
// positions.
inline char32_t foldedAt(const char16_t* text, qsizetype n, qsizetype& i)
{
    const char16_t u = text[i++];
    if (u < 128) {
        return u >= u'A' && u <= u'Z' ? char32_t(u + 32) : char32_t(u);
    }
    if (QChar::isHighSurrogate(u) && i < n && QChar::isLowSurrogate(text[i])) {
        return QChar::toCaseFolded(QChar::surrogateToUcs4(u, text[i++]));
    }
    return QChar::toCaseFolded(char32_t(u));
}

quint32 foldedHash(QStringView name)
{
    const char16_t* text = name.utf16();
    const qsizetype n = name.size();
    quint64 h = 0xcbf29ce484222325ULL;
    for (qsizetype i = 0; i < n;) {
        h = (h ^ foldedAt(text, n, i)) * 0x100000001b3ULL;
    }
    // Names often differ in their last characters only (F1, F2, ...): the bits are mixed before the table
    // takes the low ones.
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return static_cast<quint32>(h);
}

// The table is let fill up to four fifths: the slots of a hundred thousand names then take 1 MB, which
// stays in the processor's second-level cache, where half full they would take 2 MB and every look-up
// would go to memory. Linear probing at that fill still finds most names within one or two cache lines.
constexpr size_t MaxFill = 4;
constexpr size_t FillScale = 5;

} // namespace

bool TNameIndex::equalIgnoringCase(QStringView a, QStringView b)
{
    if (a.size() != b.size()) {
        return false;
    }
    const char16_t* x = a.utf16();
    const char16_t* y = b.utf16();
    const qsizetype n = a.size();
    for (qsizetype i = 0, j = 0; i < n;) {
        if (foldedAt(x, n, i) != foldedAt(y, n, j) || i != j) {
            return false;
        }
    }
    return true;
}

void TNameIndex::reset(qsizetype count)
{
    size_t slotCount = 16;
    while (slotCount * MaxFill < static_cast<size_t>(count) * FillScale) {
        slotCount *= 2;
    }
    m_slots.assign(slotCount, TSlot{0, -1});
    m_names.clear();
    m_values.clear();
    m_names.reserve(static_cast<size_t>(count));
    m_values.reserve(static_cast<size_t>(count));
}

size_t TNameIndex::slotOf(QStringView name, quint32 hash) const
{
    const size_t mask = m_slots.size() - 1;
    for (size_t s = hash & mask;; s = (s + 1) & mask) {
        const TSlot& slot = m_slots[s];
        if (slot.entry < 0 ||
            (slot.hash == hash && equalIgnoringCase(m_names[static_cast<size_t>(slot.entry)], name))) {
            return s;
        }
    }
}

void TNameIndex::grow()
{
    std::vector<TSlot> old(2 * m_slots.size(), TSlot{0, -1});
    old.swap(m_slots);
    const size_t mask = m_slots.size() - 1;
    for (const TSlot& slot : old) {
        if (slot.entry >= 0) {
            size_t s = slot.hash & mask;
            while (m_slots[s].entry >= 0) {
                s = (s + 1) & mask;
            }
            m_slots[s] = slot;
        }
    }
}

int TNameIndex::add(QStringView name, int value)
{
    if (m_slots.empty()) {
        reset(0);
    }
    const quint32 hash = foldedHash(name);
    TSlot& slot = m_slots[slotOf(name, hash)];
    if (slot.entry >= 0) {
        return m_values[static_cast<size_t>(slot.entry)];
    }
    slot = TSlot{hash, static_cast<qint32>(m_names.size())};
    m_names.push_back(name);
    m_values.push_back(value);
    if (m_names.size() * FillScale > m_slots.size() * MaxFill) {
        grow();
    }
    return -1;
}

void TNameIndex::insert(QStringView name, int value)
{
    const int there = add(name, value);
    if (there >= 0) {
        m_values[static_cast<size_t>(m_slots[slotOf(name, foldedHash(name))].entry)] = value;
    }
}

void TNameIndex::prefetch(QStringView name) const
{
    if (!m_slots.empty()) {
        __builtin_prefetch(&m_slots[foldedHash(name) & (m_slots.size() - 1)]);
    }
}

int TNameIndex::find(QStringView name) const
{
    if (m_names.empty()) {
        return -1;
    }
    const TSlot& slot = m_slots[slotOf(name, foldedHash(name))];
    return slot.entry < 0 ? -1 : m_values[static_cast<size_t>(slot.entry)];
}

} // namespace torvane
