#include "TWorkspace.h"

#include "StrToInt.h"
#include "TFailure.h"
#include "TMessageLanguage.h"
#include "TRowValue.h"
#include "TWorkspaceTexts.h"

#include <algorithm>
#include <climits>
#include <utility>

namespace torvane {

namespace {

// The refusals of the field operations. A read refuses a field with the first, and the check prints it: each
// comes in the language the messages are set to.
QString MsgNameTaken()
{
    return say(u"フィールド名が既にあるか不正な名前です", u"the field name is already taken or is not a valid name");
}
QString MsgChooseType()
{
    return say(u"データの型を選択してください", u"choose the field's data type");
}
QString MsgEnterName()
{
    return say(u"フィールド名を入力してください", u"enter the field's name");
}
QString MsgTypeExists()
{
    return say(u"既にあります", u"the type is already in the list");
}
const QString MsgAskTypeCode = QStringLiteral("入力されている単語はデータ形式文字ですか？");

constexpr int DataColumnDefaultWidth = 100;
// A width text of millions would give a column no screen can show and no header can hold.
constexpr long long MaxColumnWidth = 32767;

} // namespace

TWorkspace::TWorkspace(TTextMeasure measure)
    : m_fieldTable(FieldColumnCount, 2, 64), m_dataTable(1, 2, DataColumnDefaultWidth),
      m_priKey(QStringLiteral("主キー選択")), m_defOrder(QStringLiteral("並べ順キー選択")),
      m_typeList(initialTypeList()), m_measure(std::move(measure))
{
    m_fieldTable.setColWidth(FieldNameColumn, 226);
    m_fieldTable.setColWidth(FieldTypeColumn, 100);
    m_fieldTable.setColWidth(FieldEtcColumn, 330);
    m_fieldTable.setColWidth(FieldWidthColumn, 79);
}

void TWorkspace::setTextMeasure(TTextMeasure measure)
{
    m_measure = std::move(measure);
}

int TWorkspace::measureText(const QString& text) const
{
    if (m_measure) {
        return m_measure(text);
    }
    return static_cast<int>(text.size()) * 8;
}

QStringList TWorkspace::initialTypeList()
{
    return {
        QStringLiteral("i2(２バイト整数）"),
        QStringLiteral("i4（４バイト整数）"),
        QStringLiteral("r4（７桁実数）"),
        QStringLiteral("r8（１５桁実数）"),
        StringTypeText,
        QStringLiteral("char（一文字）"),
        QStringLiteral("int（数字）"),
        QStringLiteral("float（実数）"),
        QStringLiteral("boolean（０か１）"),
        QStringLiteral("bin.hex（８進表記１６進数）"),
    };
}

int TWorkspace::indexOfName(const QStringList& names, const QString& name)
{
    // Case folding keeps every character in its plane, so names equal apart from case have the same length:
    // the comparison, a call into the library, is made for those alone, after the plain one that settles the
    // type list's look-ups.
    for (int i = 0; i < names.size(); ++i) {
        if (names[i].size() == name.size() && (names[i] == name || names[i].compare(name, Qt::CaseInsensitive) == 0)) {
            return i;
        }
    }
    return -1;
}

void TWorkspace::markDataEdited()
{
    m_needsRebuild = true;
    m_changedSide = TChangedSide::Data;
}

void TWorkspace::markRowsEdited()
{
    markDataEdited();
    m_standInRow = false;
}

void TWorkspace::markTextEdited()
{
    m_needsRebuild = true;
    m_changedSide = TChangedSide::Text;
}

void TWorkspace::rebuilt()
{
    m_needsRebuild = false;
    m_changedSide = TChangedSide::None;
}

void TWorkspace::ResetWorkspace()
{
    m_needsRebuild = false;
    m_changedSide = TChangedSide::None;
    clearFields();
    m_paramsAttributes.clear();
    m_standInRow = false;
    refillKeyLists();
    FitFieldColumns();
}

void TWorkspace::clearFields()
{
    m_fieldList.clear();
    m_fieldTable.clearRows(1);
    m_fieldTable.setRowCount(2);
    m_dataTable.clearRows(0);
    m_dataTable.setRowCount(2);
    m_dataTable.setColCount(1);
}

void TWorkspace::startRead(const std::optional<QString>& xmlVersion, const std::optional<QString>& packetVersion)
{
    m_fieldTable.setCell(FieldNameColumn, 0, QStringLiteral("フィールド名"));
    m_fieldTable.setCell(FieldTypeColumn, 0, QStringLiteral("データ形式"));
    m_fieldTable.setCell(FieldEtcColumn, 0, QStringLiteral("その他設定文"));
    m_fieldTable.setCell(FieldWidthColumn, 0, QStringLiteral("幅"));
    if (xmlVersion) {
        m_xmlVersion = *xmlVersion;
    }
    m_foundPacket = packetVersion.has_value();
    if (packetVersion) {
        m_packetVersion = *packetVersion;
        clearFields();
        m_paramsAttributes.clear();
        m_standInRow = true;
    }
}

void TWorkspace::setKeySelected(TKeyKind kind, int index, bool selected)
{
    (kind == TKeyKind::PrimaryKey ? m_priKey : m_defOrder).setSelected(index, selected);
}

void TWorkspace::setDataColumnWidth(int col, int width)
{
    if (col >= 0 && col < m_dataTable.colCount()) {
        m_dataTable.setColWidth(col, width);
    }
}

void TWorkspace::FitFieldColumns()
{
    const long long rowsHeight = (static_cast<long long>(FieldCount()) + 1) * DefaultRowHeight;
    const int scrollBar = m_fieldTableHeight < rowsHeight ? 18 : 0;
    m_fieldTable.setColWidth(FieldEtcColumn, m_fieldTableWidth - scrollBar - m_fieldTable.colWidth(FieldNameColumn) -
                                                 m_fieldTable.colWidth(FieldTypeColumn) -
                                                 m_fieldTable.colWidth(FieldWidthColumn) - 7);
}

void TWorkspace::setFieldTableSize(int width, int height)
{
    m_fieldTableWidth = width;
    m_fieldTableHeight = height;
    FitFieldColumns();
}

void TWorkspace::fitDataColumnsToValues(int first, int last, int sampleRows, int padding, int cap)
{
    const int columns = std::min(last, FieldCount() - 1) + 1;
    const int rows = std::min(sampleRows, m_dataTable.rowCount() - 1);
    for (int c = std::max(first, 0); c < columns; ++c) {
        if (!m_fieldTable.cell(FieldWidthColumn, c + 1).isEmpty()) {
            continue;
        }
        int widest = 0;
        for (int r = 1; r <= rows && widest < cap; ++r) {
            const QStringView value = m_dataTable.cellView(c, r);
            // A large value shows as its mark, never as itself.
            widest = std::max(widest, measureText(isBlobValue(value) ? QStringLiteral("<BLOB>") : value.toString()));
        }
        const int width = std::min(widest + padding, cap);
        if (widest > 0 && width > m_dataTable.colWidth(c)) {
            m_dataTable.setColWidth(c, width);
        }
    }
}

int TWorkspace::dataColumnWidth(const QString& name, long long a) const
{
    const long long t = measureText(name);
    const long long width = t + 5 < a ? a : t + 5;
    return static_cast<int>(std::clamp(width, static_cast<long long>(INT_MIN), MaxColumnWidth));
}

TWorkspace::TFieldBatch::TFieldBatch(TWorkspace& workspace, qsizetype expected) : m_workspace(workspace)
{
    QStringList& names = m_workspace.m_fieldList;
    // Room is made only for what a list or table could hold; a wrong guess costs memory, never a field.
    const auto total =
        static_cast<int>(std::min<qsizetype>(names.size() + std::max<qsizetype>(expected, 0), INT_MAX - 1));
    names.reserve(total);
    m_workspace.m_fieldTable.reserve(m_workspace.m_fieldTable.colCount(), total + 1);
    m_workspace.m_dataTable.reserve(total, 0);
    m_workspace.m_nameIndex.reset(total);
    for (int i = 0; i < names.size(); ++i) {
        m_workspace.m_nameIndex.insert(names[i], i);
    }
    // Open only once nothing above can fail for want of memory: a batch that did not open is not closed.
    m_workspace.m_batchOpen = true;
    m_workspace.m_batchAdded = false;
    m_workspace.m_batchFirst = m_workspace.FieldCount();
}

void TWorkspace::TFieldBatch::expect(QStringView name) const
{
    if (m_workspace.m_batchOpen) {
        m_workspace.m_nameIndex.prefetch(name);
    }
}

TNameIndex TWorkspace::TFieldBatch::takeNameIndex()
{
    // Whatever is added after this is checked against the names one by one, as outside a batch.
    m_workspace.m_batchOpen = false;
    return std::move(m_workspace.m_nameIndex);
}

TWorkspace::TFieldBatch::~TFieldBatch()
{
    m_workspace.m_batchOpen = false;
    m_workspace.m_nameIndex = TNameIndex();
    // The batch's fields are the last columns, in the order they were added: their names are the headers.
    const int first = m_workspace.m_batchFirst;
    if (m_workspace.FieldCount() > first) {
        m_workspace.m_dataTable.setCells(0, first, m_workspace.m_fieldList.constData() + first,
                                         m_workspace.FieldCount() - first);
    }
    // Each add would have refilled the lists; with no add they keep their items and selections.
    if (m_workspace.m_batchAdded) {
        m_workspace.refillKeyLists();
    }
}

void TWorkspace::refillKeyLists()
{
    m_priKey.refill(m_fieldList);
    m_defOrder.refill(m_fieldList);
}

int TWorkspace::typeIndexOf(const QString& typeText) const
{
    return indexOfName(m_typeList, typeText);
}

bool TWorkspace::AddFieldRow(const QString& name, const QString& typeText, const QString& etc, const QString& width,
                             TDialogs& dialogs)
{
    bool taken = name.isEmpty() || (!m_batchOpen && indexOfName(m_fieldList, name) >= 0);
    if (!taken) {
        m_fieldList.append(name);
        // In a batch the index checks the name and takes it in one look-up. It keeps a view of the name: the
        // list's copy, whose characters stay where they are while the batch adds.
        if (m_batchOpen && m_nameIndex.add(m_fieldList.constLast(), FieldCount() - 1) >= 0) {
            m_fieldList.removeLast();
            taken = true;
        }
    }
    if (taken) {
        dialogs.inform(MsgNameTaken());
        return false;
    }
    const int number = FieldCount();
    if (m_fieldTable.rowCount() == number) {
        m_fieldTable.setRowCount(number + 1);
    }
    if (m_batchOpen) {
        m_batchAdded = true;
    } else {
        refillKeyLists();
    }

    // The row's four cells are written in one go: each cell written alone would rebuild the row's buffer.
    const QStringView cells[FieldColumnCount] = {name, typeText, etc, width};
    m_fieldTable.setRowCells(number, cells, FieldColumnCount);

    if (typeIndexOf(typeText) < 0) {
        m_typeList.append(typeText);
    }

    m_dataTable.setColCount(number);
    // The header row is one buffer: in a batch it is written once when the batch closes, not copied on
    // every add.
    if (!m_batchOpen) {
        m_dataTable.setCell(number - 1, 0, name);
    }

    // The conversion may throw: the field then stays, with its column at the width it has now.
    const long long a = width.isEmpty() ? 10 : static_cast<long long>(StrToInt(width)) * 8;
    m_dataTable.setColWidth(number - 1, dataColumnWidth(m_fieldList.last(), a));

    FitFieldColumns();
    return true;
}

bool TWorkspace::B_FieldAddClick(const QString& name, const std::optional<QString>& chosenType, const QString& etc,
                                 const QString& width, TDialogs& dialogs)
{
    markDataEdited();
    if (!chosenType) {
        dialogs.inform(MsgChooseType());
        return false;
    }
    if (name.isEmpty() || indexOfName(m_fieldList, name) >= 0) {
        dialogs.inform(MsgNameTaken());
        return false;
    }
    return AddFieldRow(name, *chosenType, etc, width, dialogs);
}

bool TWorkspace::B_FieldSetClick(int selectedRow, const QString& name, const std::optional<QString>& chosenType,
                                 const QString& etc, const QString& width, TDialogs& dialogs)
{
    markDataEdited();
    if (!chosenType) {
        dialogs.inform(MsgChooseType());
        return false;
    }
    const int k = indexOfName(m_priKey.items(), name);
    if (name.isEmpty() || (k >= 0 && selectedRow != k + 1)) {
        dialogs.inform(MsgEnterName());
        return false;
    }
    const int r = selectedRow;
    if (r - 1 < 0 || r - 1 >= m_fieldList.size()) {
        throw TFailure(
            say(u"リストのインデックスが範囲を超えています (%1)", u"list index out of range (%1)").arg(r - 1));
    }
    m_fieldList[r - 1] = name;
    refillKeyLists();

    m_fieldTable.setCell(FieldNameColumn, r, name);
    m_fieldTable.setCell(FieldTypeColumn, r, *chosenType);
    m_fieldTable.setCell(FieldEtcColumn, r, etc);
    m_fieldTable.setCell(FieldWidthColumn, r, width);

    m_dataTable.setCell(r - 1, 0, name);
    const long long a = width.isEmpty() ? 0 : static_cast<long long>(StrToInt(width)) * 8;
    m_dataTable.setColWidth(r - 1, dataColumnWidth(m_fieldList[r - 1], a));
    return true;
}

TFieldEditorContent TWorkspace::SG_FieldClick(int row) const
{
    TFieldEditorContent content;
    if (row < 0 || row >= m_fieldTable.rowCount()) {
        return content;
    }
    content.name = m_fieldTable.cell(FieldNameColumn, row);
    const int index = typeIndexOf(m_fieldTable.cell(FieldTypeColumn, row));
    if (index >= 0) {
        content.typeIndex = index;
    }
    content.etc = m_fieldTable.cell(FieldEtcColumn, row);
    content.width = m_fieldTable.cell(FieldWidthColumn, row);
    return content;
}

std::optional<int> TWorkspace::CB_FieldTypeKeyDown(int key, const QString& boxText, TDialogs& dialogs)
{
    if (key != VK_RETURN) {
        return std::nullopt;
    }
    if (!dialogs.confirm(MsgAskTypeCode)) {
        return std::nullopt;
    }
    if (typeIndexOf(boxText) >= 0) {
        dialogs.inform(MsgTypeExists());
        return std::nullopt;
    }
    m_typeList.append(boxText);
    return static_cast<int>(m_typeList.size()) - 1;
}

void TWorkspace::toggleKeyList(TKeyList& list, int itemHeight, TDialogs& dialogs)
{
    markDataEdited();
    if (list.isShown()) {
        list.close();
        return;
    }
    if (FieldCount() <= 0) {
        dialogs.inform(MsgNoFields);
        return;
    }
    list.open(list.count() * itemHeight + 5);
}

void TWorkspace::B_PriKeyClick(int itemHeight, TDialogs& dialogs)
{
    toggleKeyList(m_priKey, itemHeight, dialogs);
}

void TWorkspace::B_DefOrderClick(int itemHeight, TDialogs& dialogs)
{
    toggleKeyList(m_defOrder, itemHeight, dialogs);
}

bool TWorkspace::B_DataAddClick()
{
    markDataEdited();
    if (FieldCount() <= 0) {
        return false;
    }
    // Asked for a record, the blank row that stood in for none is one, whether or not another is added.
    m_standInRow = false;
    if (isBlankDataRow(m_dataTable.rowCount() - 1)) {
        return false;
    }
    m_dataTable.setRowCount(m_dataTable.rowCount() + 1);
    return true;
}

int TWorkspace::SG_DataKeyDown(int key, int currentRow) const
{
    if (key == VK_RETURN && currentRow < m_dataTable.rowCount() - 1) {
        return currentRow + 1;
    }
    return currentRow;
}

void TWorkspace::moveDataColumn(int from, int to)
{
    m_dataTable.moveColumn(from, to);
}

bool TWorkspace::isBlankDataRow(int row) const
{
    return m_dataTable.gridRow(row).isBlank(FieldCount());
}

int TWorkspace::lastFilledDataRow() const
{
    int row = m_dataTable.rowCount() - 1;
    while (row >= 1 && isBlankDataRow(row)) {
        --row;
    }
    return row;
}

// --- Editing beyond the buttons ----------------------------------------------------------------------

TCellBlock planPaste(std::vector<std::vector<QString>> values, const QRect& target, int columns)
{
    TCellBlock block;
    block.col = target.left();
    block.row = target.top();
    size_t width = 0;
    for (const auto& cells : values) {
        width = std::max(width, cells.size());
    }
    if (values.size() == 1 && width == 1) {
        // One value onto a selection fills every selected cell.
        values.assign(static_cast<size_t>(std::max(target.height(), 1)),
                      std::vector<QString>(static_cast<size_t>(std::max(target.width(), 1)), values[0][0]));
        width = values[0].size();
    }
    const size_t kept = static_cast<size_t>(std::clamp(columns - block.col, 0, static_cast<int>(width)));
    for (auto& cells : values) {
        cells.resize(kept);
    }
    if (kept > 0) {
        block.values = std::move(values);
    }
    return block;
}

void TWorkspace::insertDataRows(int at, std::vector<TGridRow> rows)
{
    markRowsEdited();
    m_dataTable.insertRows(std::clamp(at, 1, m_dataTable.rowCount()), std::move(rows));
}

void TWorkspace::insertEmptyDataRows(int at, int count)
{
    markRowsEdited();
    m_dataTable.insertEmptyRows(std::clamp(at, 1, m_dataTable.rowCount()), count);
}

std::vector<TGridRow> TWorkspace::copyDataRows(int first, int count) const
{
    return first < 1 ? std::vector<TGridRow>() : m_dataTable.copyRows(first, count);
}

TRemovedRows TWorkspace::removeDataRows(int first, int count)
{
    markRowsEdited();
    TRemovedRows removed;
    removed.first = std::clamp(first, 1, m_dataTable.rowCount());
    removed.rows = m_dataTable.takeRows(removed.first, count);
    if (m_dataTable.rowCount() < 2) {
        m_dataTable.insertEmptyRows(1, 2 - m_dataTable.rowCount());
        removed.addedEmptyRow = true;
    }
    return removed;
}

void TWorkspace::restoreDataRows(TRemovedRows removed)
{
    markRowsEdited();
    if (removed.addedEmptyRow) {
        m_dataTable.takeRows(1, 1);
    }
    m_dataTable.insertRows(removed.first, std::move(removed.rows));
}

std::vector<TGridRow> TWorkspace::replaceDataRows(int first, int count, std::vector<TGridRow> rows)
{
    markRowsEdited();
    first = std::clamp(first, 1, m_dataTable.rowCount());
    std::vector<TGridRow> taken = m_dataTable.takeRows(first, count);
    m_dataTable.insertRows(first, std::move(rows));
    return taken;
}

TCellBlock TWorkspace::swapDataCells(TCellBlock block)
{
    markRowsEdited();
    TCellBlock previous;
    previous.col = block.col;
    previous.row = block.row;
    const int lastCol = std::min(block.col + block.width(), m_dataTable.colCount()) - 1;
    const int lastRow = std::min(block.row + block.height(), m_dataTable.rowCount()) - 1;
    if (block.col < 0 || block.row < 1 || lastCol < block.col) {
        return previous;
    }
    const int rows = std::max(lastRow - block.row + 1, 0);
    const int width = lastCol - block.col + 1;
    previous.values.reserve(static_cast<size_t>(rows));
    for (int r = block.row; r <= lastRow; ++r) {
        const int i = r - block.row;
        auto& values = block.values[static_cast<size_t>(i)];
        std::vector<QString>& old = previous.values.emplace_back();
        old.reserve(static_cast<size_t>(width));
        for (int c = block.col; c <= lastCol; ++c) {
            old.push_back(m_dataTable.cell(c, r));
            if (m_dataTable.isEmptyString(c, r)) {
                // Flags are kept only for blocks that hold an empty string.
                previous.emptyStrings.resize(static_cast<size_t>(rows));
                auto& flags = previous.emptyStrings[static_cast<size_t>(i)];
                flags.resize(static_cast<size_t>(width));
                flags[static_cast<size_t>(c - block.col)] = true;
            }
        }
        const std::vector<bool>* flags =
            static_cast<size_t>(i) < block.emptyStrings.size() ? &block.emptyStrings[static_cast<size_t>(i)] : nullptr;
        m_dataTable.setCells(r, block.col, values.data(), width, flags);
    }
    return previous;
}

TRemovedField TWorkspace::deleteField(int number)
{
    markDataEdited();
    TRemovedField removed;
    if (number < 1 || number > FieldCount()) {
        return removed;
    }
    removed.number = number;
    removed.name = m_fieldList.takeAt(number - 1);
    removed.fieldRow = std::move(m_fieldTable.takeRows(number, 1).front());
    // With no field left both tables keep their one empty row or column, as at start-up.
    if (m_fieldTable.rowCount() < 2) {
        m_fieldTable.insertEmptyRows(m_fieldTable.rowCount(), 1);
    }
    removed.dataColumn = m_dataTable.takeColumn(number - 1);
    if (m_dataTable.colCount() == 0) {
        m_dataTable.setColCount(1);
    }
    removed.primaryKey = m_priKey.takeItem(number - 1);
    removed.defaultOrder = m_defOrder.takeItem(number - 1);
    FitFieldColumns();
    return removed;
}

void TWorkspace::restoreField(TRemovedField field)
{
    markDataEdited();
    if (field.number < 1 || field.number > FieldCount() + 1) {
        return;
    }
    if (FieldCount() == 0) {
        // The empty row and column that stood in for the fields give way.
        m_fieldTable.takeRows(1, m_fieldTable.rowCount() - 1);
        m_dataTable.setColCount(0);
    }
    const int index = field.number - 1;
    m_fieldList.insert(index, field.name);
    m_fieldTable.insertRows(field.number, {std::move(field.fieldRow)});
    if (field.dataColumn.cells.empty()) {
        field.dataColumn.width = m_dataTable.defaultColWidth();
    }
    m_dataTable.insertColumn(index, std::move(field.dataColumn));
    m_priKey.insertItem(index, field.name, field.primaryKey);
    m_defOrder.insertItem(index, field.name, field.defaultOrder);
    FitFieldColumns();
}

void TWorkspace::moveField(int number, int to)
{
    markDataEdited();
    const int count = FieldCount();
    if (number < 1 || to < 1 || number > count || to > count || number == to) {
        return;
    }
    m_fieldList.move(number - 1, to - 1);
    m_fieldTable.insertRows(to, m_fieldTable.takeRows(number, 1));
    m_dataTable.moveColumn(number - 1, to - 1);
    m_priKey.moveItem(number - 1, to - 1);
    m_defOrder.moveItem(number - 1, to - 1);
}

QString typeCodeOfText(const QString& typeText)
{
    const qsizetype a = typeText.indexOf(u'（');
    const qsizetype b = typeText.indexOf(u'(');
    qsizetype p = -1;
    if (a >= 0 && b >= 0) {
        p = std::min(a, b);
    } else {
        p = a >= 0 ? a : b;
    }
    if (p >= 1) {
        return typeText.left(p);
    }
    return typeText;
}

QString TypeCodeOf(const TWorkspace& workspace, int r)
{
    return typeCodeOfText(workspace.SG_Field().cell(FieldTypeColumn, r));
}

} // namespace torvane
