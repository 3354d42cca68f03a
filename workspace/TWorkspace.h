#pragma once

#include "TDialogs.h"
#include "TKeyList.h"
#include "TNameIndex.h"
#include "TStringGrid.h"

#include <QRect>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace torvane {

// Pixel width of a text in the data table's font.
using TTextMeasure = std::function<int(const QString&)>;

// The key code the window passes for Enter.
constexpr int VK_RETURN = 13;

// What a row of the field table loads into the field editor.
struct TFieldEditorContent {
    QString name;
    // The type list item to choose, or nullopt when the list does not hold the row's type text (the type
    // box then keeps what it had).
    std::optional<int> typeIndex;
    QString etc;
    QString width;
};

// A rectangle of data cells: values[i][j] is the cell of grid row `row + i`, column `col + j`. Every row
// holds the same number of values.
struct TCellBlock {
    int col = 0;
    int row = 1;
    std::vector<std::vector<QString>> values;
    // Which empty values are empty strings rather than no value, shaped as `values`; empty when none is
    // (a paste, typing and an emptied selection give no value).
    std::vector<std::vector<bool>> emptyStrings;

    int height() const { return static_cast<int>(values.size()); }
    int width() const { return values.empty() ? 0 : static_cast<int>(values.front().size()); }
    bool isEmptyString(int i, int j) const
    {
        return static_cast<size_t>(i) < emptyStrings.size() &&
               static_cast<size_t>(j) < emptyStrings[static_cast<size_t>(i)].size() &&
               emptyStrings[static_cast<size_t>(i)][static_cast<size_t>(j)] &&
               values[static_cast<size_t>(i)][static_cast<size_t>(j)].isEmpty();
    }
    // Flags every empty value of the block as an empty string (`emptyString`) or as no value.
    void setEmptyStrings(bool emptyString)
    {
        emptyStrings.assign(values.size(), std::vector<bool>(static_cast<size_t>(width()), emptyString));
    }
};

// What a paste writes: `values` (rows of cells, padded to the longest) with its top-left at the top-left of
// `target` (grid columns and rows), left out past column `columns` - 1; a single value fills all of `target`.
// The block may reach past the last row: the rows are then to be added.
TCellBlock planPaste(std::vector<std::vector<QString>> values, const QRect& target, int columns);

// Data rows that removeDataRows took out, for restoreDataRows to put back.
struct TRemovedRows {
    int first = 1;
    std::vector<TGridRow> rows;
    // The table keeps one data row: an empty one took the place of the rows removed.
    bool addedEmptyRow = false;
};

// All of one field as deleteField took it out, for restoreField to put back where it was.
struct TRemovedField {
    int number = 0; // its 1-based position; 0 when nothing was removed
    QString name;
    TGridRow fieldRow;      // its field table row
    TGridColumn dataColumn; // its data column: header, values and width
    bool primaryKey = false;
    bool defaultOrder = false;
};

// The field table's columns.
enum TFieldColumn : int { FieldNameColumn, FieldTypeColumn, FieldEtcColumn, FieldWidthColumn, FieldColumnCount };

// The two key lists.
enum class TKeyKind { PrimaryKey, DefaultOrder };

// Which of the two views of the workspace holds the newer work: the data page (the editing buttons and the
// user's edits of cells, settings, key selections and column order) or the XML text (hand edits and
// loads). None when they agree, or when nothing says which is newer: then a set NeedsRebuild rebuilds
// whichever working page is shown next.
enum class TChangedSide { None, Data, Text };

// Everything the user edits: field names, field table, data table, key lists, type list and the packet
// settings, with the editing operations of the data page. Its accessors carry the names of the controls
// whose contents they are, so that the window and the packet code read alike.
class TWorkspace {
public:
    static constexpr int DefaultRowHeight = 16;
    static constexpr int FieldTableDesignWidth = 763;
    static constexpr int FieldTableDesignHeight = 141;

    // The workspace in its initial state. `measure` gives text widths for the data columns; without one a
    // fixed 8 pixels per character is used.
    explicit TWorkspace(TTextMeasure measure = {});

    void setTextMeasure(TTextMeasure measure);
    int measureText(const QString& text) const;

    // --- State -----------------------------------------------------------------------------------------
    // Read by everyone, changed only through the operations below, which keep the field list, the field
    // table's rows, the data table's columns and the key lists in step.
    const QStringList& FieldList() const { return m_fieldList; }
    // The number of defined fields: the length of the field list, so the two cannot disagree.
    int FieldCount() const { return static_cast<int>(m_fieldList.size()); }
    bool NeedsRebuild() const { return m_needsRebuild; }
    TChangedSide changedSide() const { return m_changedSide; }

    // Columns TFieldColumn; row r, for 1 <= r <= FieldCount, is field r. With no field one empty row stands.
    const TStringGrid& SG_Field() const { return m_fieldTable; }
    // One column per field (one empty column when there is none); row 0 holds the headers.
    const TStringGrid& SG_Data() const { return m_dataTable; }
    const TKeyList& LB_PriKey() const { return m_priKey; }
    const TKeyList& LB_DefOrder() const { return m_defOrder; }
    // The items of CB_FieldType.
    const QStringList& typeList() const { return m_typeList; }

    const QString& Ed_xmlVersion() const { return m_xmlVersion; }
    const QString& Ed_PacketVersion() const { return m_packetVersion; }
    const QString& Ed_LCID() const { return m_lcid; }
    // The packet settings' attributes beyond the keys and the LCID, as read (`NAME="value"`, one space
    // between two), written back after them; no editor shows them.
    const QString& paramsAttributes() const { return m_paramsAttributes; }
    // The encoding the XML declaration of the text last read named ("" for none): the writer names it
    // again, so that a file saved in that encoding still tells other programs how to read it.
    const QString& xmlEncoding() const { return m_xmlEncoding; }

    // The field table's outer size, which FitFieldColumns fits the columns to; the window keeps it current.
    int fieldTableWidth() const { return m_fieldTableWidth; }
    int fieldTableHeight() const { return m_fieldTableHeight; }

    // --- Settings, cells and selections --------------------------------------------------------------
    // These change what they name and nothing else; whoever calls them marks the edit (markDataEdited)
    // when it is one.
    void setXmlVersion(const QString& text) { m_xmlVersion = text; }
    void setPacketVersion(const QString& text) { m_packetVersion = text; }
    void setLCID(const QString& text) { m_lcid = text; }
    void setParamsAttributes(const QString& text) { m_paramsAttributes = text; }
    void setXmlEncoding(const QString& name) { m_xmlEncoding = name; }
    void setKeySelected(TKeyKind kind, int index, bool selected);
    // A cell typed into: its row is one the user keeps, even when left blank. A cell typed empty holds no
    // value; `emptyString` makes an empty `text` an empty string.
    void setDataCell(int col, int row, const QString& text, bool emptyString = false)
    {
        m_dataTable.setCell(col, row, text, emptyString);
        m_standInRow = false;
    }
    // The width of a data column; a column the table does not have is left alone.
    void setDataColumnWidth(int col, int width);
    // The data table's row count, header row included; new rows are empty.
    void setDataRowCount(int count) { m_dataTable.setRowCount(count); }
    // Text kept with a field's row or a data row that no column shows: the content of the element it was
    // read from, written back with it.
    void setFieldRowContent(int row, const QString& text) { m_fieldTable.setRowContent(row, text); }
    void setDataRowContent(int row, const QString& text) { m_dataTable.setRowContent(row, text); }

    // --- Reading a packet ------------------------------------------------------------------------------
    // The reader's first step: writes the field table's captions and the versions found. A packet version
    // means the packet was found: the fields, the field table's rows, the whole data table and the kept
    // settings' attributes are then emptied, ready for what is read after, and the one blank row stands in
    // until a row is read. The key lists, the type list and
    // the LCID stay.
    void startRead(const std::optional<QString>& xmlVersion, const std::optional<QString>& packetVersion);
    // Whether the last read found the packet (startRead() was given its version): a text without the
    // DATAPACKET element leaves the workspace as it was, which the window tells the user about.
    bool foundPacket() const { return m_foundPacket; }
    // The reader's rows, filled in place: `values` are copied into row `row`'s one buffer, the rest of its
    // cells empty. `emptyStrings`, when given, flags the values read as empty strings (`NAME=""`); an empty
    // value not flagged is no value.
    void setDataRowCells(int row, const QStringView* values, int count, const std::vector<bool>* emptyStrings = nullptr)
    {
        m_dataTable.setRowCells(row, values, count, emptyStrings);
    }
    // Empties every cell, and the kept content, of data rows first .. row count - 1.
    void clearDataRows(int first) { m_dataTable.clearRows(first); }
    // Whether the data table's one blank row is there only because the packet read had no records: the
    // table always shows a row, but that one is no record and is not written. Set by a read that finds the
    // packet, and kept by the reader only when no row was read; any edit of the rows or cells clears it.
    bool standInRow() const { return m_standInRow; }
    void setStandInRow(bool standIn) { m_standInRow = standIn; }

    static QStringList initialTypeList();
    // Position of `name` in `names`, compared without regard to letter case; -1 when absent.
    static int indexOfName(const QStringList& names, const QString& name);

    // A user edit on the data page: the XML text is to be written afresh.
    void markDataEdited();
    // A hand edit or load of the XML text: the workspace is to be read afresh from it.
    void markTextEdited();
    // Whether showing the data page is to run the reader, and showing the XML page the writer. Passing
    // through the manual page must not let the older side overwrite the newer one.
    bool needsRead() const { return m_needsRebuild && m_changedSide != TChangedSide::Data; }
    bool needsWrite() const { return m_needsRebuild && m_changedSide != TChangedSide::Text; }
    // After the reader or the writer has run, both views agree.
    void rebuilt();
    // The next working page shown is to be rebuilt, whichever side is newer.
    void markRebuildDue() { m_needsRebuild = true; }

    // --- Workspace -------------------------------------------------------------------------------------
    // The state the window starts with: no field, empty tables and key lists, nothing to rebuild.
    void ResetWorkspace();
    // Sets the width of the field table's other-settings column so that the four columns fill the table.
    void FitFieldColumns();
    // Sets the field table's size, then refits its columns.
    void setFieldTableSize(int width, int height);

    // --- Field definitions -----------------------------------------------------------------------------
    // Adds one field at the end; on refusal shows the message and returns false. A width text that is not
    // an integer throws TFailure after the field has been added.
    bool AddFieldRow(const QString& name, const QString& typeText, const QString& etc, const QString& width,
                     TDialogs& dialogs);
    // Many fields added in a row (the reader): while a batch is open, AddFieldRow finds taken names in an
    // index of case-folded names instead of comparing every name, and the key lists are refilled once, when
    // the batch closes, instead of on every add. What the adds leave behind is the same. `expected` is how
    // many fields the batch will likely add, room for which is made at once.
    class TFieldBatch {
    public:
        explicit TFieldBatch(TWorkspace& workspace, qsizetype expected = 0);
        ~TFieldBatch();
        // The index of every field's name (its value the field's number from 0), for look-ups that follow
        // the adds: taking it ends the batch's own look-ups, so it is taken after the last add. Its views
        // are of the field list's names.
        TNameIndex takeNameIndex();
        // Says which name the next add will most likely bring, so that its look-up can begin early.
        void expect(QStringView name) const;
        TFieldBatch(const TFieldBatch&) = delete;
        TFieldBatch& operator=(const TFieldBatch&) = delete;

    private:
        TWorkspace& m_workspace;
    };
    // The add button. `chosenType` is the chosen item's text, or nullopt when no item is chosen.
    bool B_FieldAddClick(const QString& name, const std::optional<QString>& chosenType, const QString& etc,
                         const QString& width, TDialogs& dialogs);
    // The change button, for the field table's selected row.
    bool B_FieldSetClick(int selectedRow, const QString& name, const std::optional<QString>& chosenType,
                         const QString& etc, const QString& width, TDialogs& dialogs);
    // What selecting a row of the field table loads into the editor.
    TFieldEditorContent SG_FieldClick(int row) const;
    // A key pressed in the type box holding `boxText`. Returns the index of the item to choose when Enter
    // was confirmed and the text was added; nullopt otherwise.
    std::optional<int> CB_FieldTypeKeyDown(int key, const QString& boxText, TDialogs& dialogs);
    // Index of a type text in the type list, compared whole and without regard to case; -1 when absent.
    int typeIndexOf(const QString& typeText) const;

    // --- Key lists -------------------------------------------------------------------------------------
    // Open or close a key list; `itemHeight` is the height the list really uses for one item.
    void B_PriKeyClick(int itemHeight, TDialogs& dialogs);
    void B_DefOrderClick(int itemHeight, TDialogs& dialogs);

    // --- Data rows -------------------------------------------------------------------------------------
    // Adds an empty record, unless there are no fields or the last record is empty. True when added.
    bool B_DataAddClick();
    // Enter moves the current row down (not past the last row). Returns the new current row.
    int SG_DataKeyDown(int key, int currentRow) const;
    // Moves a data column with its cells, header and width.
    void moveDataColumn(int from, int to);
    // Whether grid row `row` holds no value in a field's column.
    bool isBlankDataRow(int row) const;
    // The last data row holding a value in a field's column; 0 when there is none.
    int lastFilledDataRow() const;
    // Widens the data columns from `first` to `last` (0-based) whose field has no width text to their
    // widest value among the first `sampleRows` data rows plus `padding`, up to `cap` pixels; a column
    // never narrows. Packets written without widths would otherwise show numbers and dates cut off.
    void fitDataColumnsToValues(int first, int last, int sampleRows, int padding, int cap);

    // --- Editing beyond the buttons ------------------------------------------------------------------
    // Each of these is a user edit of the data side. Rows are grid rows (1 is the first data row). Each
    // change has its inverse, so that the window can undo and redo it.
    void insertDataRows(int at, std::vector<TGridRow> rows);
    void insertEmptyDataRows(int at, int count);
    std::vector<TGridRow> copyDataRows(int first, int count) const;
    // Removes `count` data rows from `first` on; the table keeps at least one (empty) data row.
    TRemovedRows removeDataRows(int first, int count);
    void restoreDataRows(TRemovedRows removed);
    // Puts `rows` (cut to the column count) in place of the `count` data rows from `first` on, and returns
    // the rows taken out: putting those back in place of the new ones undoes the change.
    std::vector<TGridRow> replaceDataRows(int first, int count, std::vector<TGridRow> rows);
    // Writes the block into the data table, leaving out what lies past the last column or row, and returns
    // what the same rectangle held before, empty strings flagged: writing that back undoes the change.
    TCellBlock swapDataCells(TCellBlock block);
    // Deletes field `number` (1-based): its FieldList entry, field table row, data column and key items.
    // The other fields keep their key selections. Returns it all, or number 0 when there is no such field.
    TRemovedField deleteField(int number);
    void restoreField(TRemovedField field);
    // Moves field `number` to position `to` (1-based): FieldList entry, field table row, data column and
    // key items move together, so the field is written in its new place.
    void moveField(int number, int to);

private:
    // Empties the field list, the field table's rows (not its captions) and the data table, header included,
    // leaving one empty row in each and one column in the data table.
    void clearFields();
    void toggleKeyList(TKeyList& list, int itemHeight, TDialogs& dialogs);
    void refillKeyLists();
    // markDataEdited for an edit of the data rows or cells.
    void markRowsEdited();
    // Width of a data column: `a` when the name's text width + 5 is less, else that text width + 5.
    int dataColumnWidth(const QString& name, long long a) const;

    QStringList m_fieldList;
    bool m_needsRebuild = false;
    bool m_foundPacket = false;
    TChangedSide m_changedSide = TChangedSide::None;
    TStringGrid m_fieldTable;
    TStringGrid m_dataTable;
    TKeyList m_priKey;
    TKeyList m_defOrder;
    QStringList m_typeList;
    QString m_xmlVersion = QStringLiteral("1.0");
    QString m_packetVersion = QStringLiteral("2.0");
    QString m_lcid = QStringLiteral("1033");
    QString m_paramsAttributes;
    QString m_xmlEncoding;
    bool m_standInRow = false;
    int m_fieldTableWidth = FieldTableDesignWidth;
    int m_fieldTableHeight = FieldTableDesignHeight;

    TTextMeasure m_measure;
    // The open field batch: FieldList's names by position, whether a field was added in it, and the first
    // field it added (the fields it adds are the last ones).
    bool m_batchOpen = false;
    bool m_batchAdded = false;
    TNameIndex m_nameIndex;
    int m_batchFirst = 0;
};

// The type code of a type text: the part before its first opening parenthesis, ASCII "(" or full-width
// "（"; the text whole when it has none or starts with one.
QString typeCodeOfText(const QString& typeText);
// The type code of field r (field table row r).
QString TypeCodeOf(const TWorkspace& workspace, int r);

} // namespace torvane
