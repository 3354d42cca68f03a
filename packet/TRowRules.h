#pragma once

#include "TNameIndex.h"
#include "TWorkspace.h"

#include <QString>
#include <QStringView>

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace torvane {

// What a road of the reader still has to do to a value it cut out of a row's attribute.
enum class TRowValueForm {
    // Nothing: the characters between the quotes are the value.
    Plain,
    // Character references and the five entities to decode, in a text that is not well-formed.
    References,
    // As XML reads an attribute value: references decoded, each tab and line break read as a space.
    XmlAttribute,
};

// The rules every road of the reader follows for the records: which column an attribute of a row element
// gives its value to, which rows of a change log are records, and an empty string kept apart from a value
// not written. A road finds a row's attributes in its own way (markers, the plain form, an XML pass) and
// hands each one here, so that all roads fill the grid alike.
class TRowRules {
public:
    // Prepares for the rows of the workspace's fields. `index` is the name index the field adds built, taken
    // over when it holds every field name and nothing else; any other is built anew when first needed.
    void start(const TWorkspace& ws, TNameIndex index = {});
    // How many names a row can give a value to: the fields, and the row state unless a field has its name.
    int keyCount() const { return m_keyCount; }

    // Starts gathering a row: no value yet, and a record until its state says otherwise.
    void beginRow()
    {
        m_values.assign(m_columns, QStringView());
        if (m_anyEmpty || m_empty.size() != m_values.size()) {
            m_empty.assign(m_values.size(), false);
            m_anyEmpty = false;
        }
        m_decoded.resize(0);
        m_decodedCells.clear();
        ++m_serial;
        m_current = true;
        m_expected = 0;
    }

    // The key (a column, or the row state) whose name is `name` with letter case ignored, when this row has
    // not given it a value yet; -1 otherwise. Rows mostly list their values in field order, leaving out empty
    // ones: the few fields after the one taken last are compared as written before the name is looked up.
    int keyOf(QStringView name)
    {
        const int e = fieldInOrder(name);
        if (e >= 0 && m_foundInRow[static_cast<size_t>(e)] != m_serial) {
            return e;
        }
        const auto length = static_cast<size_t>(name.size());
        if (length > 0 && length < m_keyLengths.size() && m_keyLengths[length]) {
            const int key = keyIndex().find(name);
            if (key >= 0 && m_foundInRow[static_cast<size_t>(key)] != m_serial) {
                return key;
            }
        }
        return -1;
    }

    // Marks `key` (from keyOf) as given in this row without taking a value: an attribute whose value the
    // road could not cut out still uses up its name.
    void claim(int key)
    {
        m_foundInRow[static_cast<size_t>(key)] = m_serial;
        m_expected = key + 1;
    }

    // Gives `key` (from keyOf) the value written between its quotes, in the form the road found it.
    void take(int key, QStringView value, TRowValueForm form)
    {
        claim(key);
        if (key == m_stateKey) {
            takeState(value, form);
        } else if (value.isEmpty()) {
            // Written empty: an empty string, which the grid keeps apart from a value not written.
            m_empty[static_cast<size_t>(key)] = true;
            m_anyEmpty = true;
        } else if (form == TRowValueForm::Plain) {
            m_values[static_cast<size_t>(key)] = value;
        } else {
            takeDecoded(key, value, form);
        }
    }

    // Whether the row gathered is a record: not an earlier version of a changed row, nor a deleted one.
    bool isCurrent() const { return m_current; }

    // Makes the grid hold record `row` and puts the row gathered there with `content` (the element's
    // content, written back with it) when it is a record; a row that is none leaves `row` empty for the next.
    // Returns whether the row was put.
    bool putRow(TWorkspace& ws, int row, QStringView content);

    // After the last row element, `next` being the record number the next row would have had: rows of the
    // change log left out at the end leave no empty rows behind, and with no record read the table's one
    // blank row stands in for none.
    static void endRows(TWorkspace& ws, int next);

    // Whether a row element starts at `at`: "<ROW" in any letter case, then white space, "/" or ">". A row
    // element without attributes (`<ROW/>`, `<ROW></ROW>`) is a record with every value missing, as the
    // writer writes such a record and as the dataset library reads it.
    static bool isRowElementAt(QStringView text, qsizetype at);
    // What every row element starts with.
    static constexpr QStringView RowElementStart = u"<ROW";

private:
    // How many fields from the one after the last taken a row's attribute name is compared with as written.
    static constexpr int FieldOrderWindow = 16;

    // The field among the next few from the one after the last taken whose name is `name` as written; -1 when
    // none of them is. Names differ in more than letter case, so a name equal as written is the one the
    // look-up would find: trying more fields would only make a row in another order compare each of its names
    // with every field. The names are compared unit by unit, as the library's comparison costs a call for each.
    int fieldInOrder(QStringView name) const
    {
        const int last = std::min(m_fieldCount, m_expected + FieldOrderWindow);
        const qsizetype length = name.size();
        for (int e = m_expected; e < last; ++e) {
            const QString& field = (*m_names)[e];
            if (length == field.size() && std::equal(name.begin(), name.end(), field.utf16())) {
                return e;
            }
        }
        return -1;
    }
    const TNameIndex& keyIndex();
    void takeState(QStringView value, TRowValueForm form);
    void takeDecoded(int key, QStringView value, TRowValueForm form);

    const QStringList* m_names = nullptr;
    int m_fieldCount = 0;
    size_t m_columns = 0;
    int m_keyCount = 0;
    // The row state's key (after the fields), or -1 when a field has its name.
    int m_stateKey = -1;

    // Every key's name with letter case ignored, built when a row first gives its values out of order.
    TNameIndex m_keys;
    bool m_keysIndexed = false;
    // Which name lengths any key has: most names a row holds that are no key are passed over without hashing.
    std::vector<bool> m_keyLengths;

    // The row's number among all gathered, and for each key the number of the last row that gave it.
    int m_serial = 0;
    std::vector<int> m_foundInRow;
    int m_expected = 0;
    bool m_current = true;
    // Each value is a view into the text, or into m_decoded where it had to be decoded (each decoded one's
    // key and where it starts in m_decoded, pointed to once the row is gathered, as decoding may move it).
    std::vector<QStringView> m_values;
    std::vector<bool> m_empty;
    bool m_anyEmpty = false;
    QString m_decoded;
    std::vector<std::pair<int, qsizetype>> m_decodedCells;
};

// Refuses, before the data table grows, a packet whose rows (from `from` on) could not all be held in memory:
// the table may take `gridLimit` bytes (gridMemoryBudget() when not given).
void checkGridFits(const TWorkspace& ws, QStringView text, qsizetype from, std::optional<qint64> gridLimit);

} // namespace torvane
