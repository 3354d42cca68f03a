#include "TWorkspace.h"

#include "StrToInt.h"
#include "TFailure.h"
#include "TRowValue.h"
#include "TWorkspaceTexts.h"

#include <algorithm>
#include <climits>
#include <utility>

namespace torvane {

namespace {

const QString MsgNameTaken = QStringLiteral("フィールド名が既にあるか不正な名前です");
const QString MsgChooseType = QStringLiteral("データの型を選択してください");
const QString MsgEnterName = QStringLiteral("フィールド名を入力してください");
const QString MsgAskTypeCode = QStringLiteral("入力されている単語はデータ形式文字ですか？");
const QString MsgTypeExists = QStringLiteral("既にあります");

constexpr int DataColumnDefaultWidth = 100;
// A width text of millions would give a column no screen can show and no header can hold.
constexpr long long MaxColumnWidth = 32767;

} // namespace

TWorkspace::TWorkspace(TTextMeasure measure)
    : SG_Field(4, 2, 64), SG_Data(1, 2, DataColumnDefaultWidth), LB_PriKey(QStringLiteral("主キー選択")),
      LB_DefOrder(QStringLiteral("並べ順キー選択")), typeList(initialTypeList()), m_measure(std::move(measure))
{
    SG_Field.setColWidth(0, 226);
    SG_Field.setColWidth(1, 100);
    SG_Field.setColWidth(2, 330);
    SG_Field.setColWidth(3, 79);
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
    for (int i = 0; i < names.size(); ++i) {
        if (names[i].compare(name, Qt::CaseInsensitive) == 0) {
            return i;
        }
    }
    return -1;
}

void TWorkspace::markDataEdited()
{
    NeedsRebuild = true;
    changedSide = TChangedSide::Data;
}

void TWorkspace::markTextEdited()
{
    NeedsRebuild = true;
    changedSide = TChangedSide::Text;
}

void TWorkspace::rebuilt()
{
    NeedsRebuild = false;
    changedSide = TChangedSide::None;
}

void TWorkspace::ResetWorkspace()
{
    NeedsRebuild = false;
    changedSide = TChangedSide::None;
    FieldCount = 0;
    FitFieldColumns();
}

void TWorkspace::FitFieldColumns()
{
    const long long rowsHeight = (static_cast<long long>(FieldCount) + 1) * DefaultRowHeight;
    const int scrollBar = fieldTableHeight < rowsHeight ? 18 : 0;
    SG_Field.setColWidth(2, fieldTableWidth - scrollBar - SG_Field.colWidth(0) - SG_Field.colWidth(1) -
                                SG_Field.colWidth(3) - 7);
}

void TWorkspace::setFieldTableSize(int width, int height)
{
    fieldTableWidth = width;
    fieldTableHeight = height;
    FitFieldColumns();
}

void TWorkspace::fitDataColumnsToValues(int first, int last, int sampleRows, int padding, int cap)
{
    const int columns = std::min({last, FieldCount - 1, SG_Data.colCount() - 1}) + 1;
    const int rows = std::min(sampleRows, SG_Data.rowCount() - 1);
    for (int c = std::max(first, 0); c < columns; ++c) {
        if (!SG_Field.cell(3, c + 1).isEmpty()) {
            continue;
        }
        int widest = 0;
        for (int r = 1; r <= rows && widest < cap; ++r) {
            const QStringView value = SG_Data.cellView(c, r);
            // A large value shows as its mark, never as itself.
            widest = std::max(widest, measureText(isBlobValue(value) ? QStringLiteral("<BLOB>") : value.toString()));
        }
        const int width = std::min(widest + padding, cap);
        if (widest > 0 && width > SG_Data.colWidth(c)) {
            SG_Data.setColWidth(c, width);
        }
    }
}

int TWorkspace::dataColumnWidth(const QString& name, long long a) const
{
    const long long t = measureText(name);
    const long long width = t + 5 < a ? a : t + 5;
    return static_cast<int>(std::clamp(width, static_cast<long long>(INT_MIN), MaxColumnWidth));
}

TWorkspace::TFieldBatch::TFieldBatch(TWorkspace& workspace) : m_workspace(workspace)
{
    m_workspace.m_batchOpen = true;
    m_workspace.m_batchAdded = false;
    m_workspace.m_foldedNames.clear();
    m_workspace.m_foldedNames.reserve(m_workspace.FieldList.size());
    for (const QString& name : std::as_const(m_workspace.FieldList)) {
        m_workspace.m_foldedNames.insert(name.toCaseFolded());
    }
}

TWorkspace::TFieldBatch::~TFieldBatch()
{
    m_workspace.m_batchOpen = false;
    m_workspace.m_foldedNames.clear();
    const QStringList headers = std::exchange(m_workspace.m_batchHeaders, {});
    if (!headers.isEmpty()) {
        // The batch's fields are the last columns, in the order they were added.
        const int first = m_workspace.FieldCount - static_cast<int>(headers.size());
        m_workspace.SG_Data.setCells(0, first, headers.constData(), static_cast<int>(headers.size()));
    }
    // Each add would have refilled the lists; with no add they keep their items and selections.
    if (m_workspace.m_batchAdded) {
        m_workspace.refillKeyLists();
    }
}

void TWorkspace::refillKeyLists()
{
    LB_PriKey.refill(FieldList);
    LB_DefOrder.refill(FieldList);
}

int TWorkspace::typeIndexOf(const QString& typeText) const
{
    return indexOfName(typeList, typeText);
}

bool TWorkspace::AddFieldRow(const QString& name, const QString& typeText, const QString& etc, const QString& width,
                             TDialogs& dialogs)
{
    const QString folded = m_batchOpen ? name.toCaseFolded() : QString();
    const bool taken = m_batchOpen ? m_foldedNames.contains(folded) : indexOfName(FieldList, name) >= 0;
    if (name.isEmpty() || taken) {
        dialogs.inform(MsgNameTaken);
        return false;
    }
    ++FieldCount;
    if (SG_Field.rowCount() == FieldCount) {
        SG_Field.setRowCount(FieldCount + 1);
    }
    FieldList.append(name);
    if (m_batchOpen) {
        m_foldedNames.insert(folded);
        m_batchAdded = true;
    } else {
        refillKeyLists();
    }

    SG_Field.setCell(0, FieldCount, name);
    SG_Field.setCell(1, FieldCount, typeText);
    SG_Field.setCell(2, FieldCount, etc);
    SG_Field.setCell(3, FieldCount, width);

    if (typeIndexOf(typeText) < 0) {
        typeList.append(typeText);
    }

    SG_Data.setColCount(FieldCount);
    if (m_batchOpen) {
        // The header row is one buffer: written once when the batch closes, not copied on every add.
        m_batchHeaders.append(name);
    } else {
        SG_Data.setCell(FieldCount - 1, 0, name);
    }

    // The conversion may throw: the field then stays, with its column at the width it has now.
    const long long a = width.isEmpty() ? 10 : static_cast<long long>(StrToInt(width)) * 8;
    SG_Data.setColWidth(FieldCount - 1, dataColumnWidth(FieldList.last(), a));

    FitFieldColumns();
    return true;
}

bool TWorkspace::B_FieldAddClick(const QString& name, const std::optional<QString>& chosenType, const QString& etc,
                                 const QString& width, TDialogs& dialogs)
{
    markDataEdited();
    if (!chosenType) {
        dialogs.inform(MsgChooseType);
        return false;
    }
    if (name.isEmpty() || indexOfName(FieldList, name) >= 0) {
        dialogs.inform(MsgNameTaken);
        return false;
    }
    return AddFieldRow(name, *chosenType, etc, width, dialogs);
}

bool TWorkspace::B_FieldSetClick(int selectedRow, const QString& name, const std::optional<QString>& chosenType,
                                 const QString& etc, const QString& width, TDialogs& dialogs)
{
    markDataEdited();
    if (!chosenType) {
        dialogs.inform(MsgChooseType);
        return false;
    }
    const int k = indexOfName(LB_PriKey.items(), name);
    if (name.isEmpty() || (k >= 0 && selectedRow != k + 1)) {
        dialogs.inform(MsgEnterName);
        return false;
    }
    const int r = selectedRow;
    if (r - 1 < 0 || r - 1 >= FieldList.size()) {
        throw TFailure(QStringLiteral("リストのインデックスが範囲を超えています (%1)").arg(r - 1));
    }
    FieldList[r - 1] = name;
    refillKeyLists();

    SG_Field.setCell(0, r, name);
    SG_Field.setCell(1, r, *chosenType);
    SG_Field.setCell(2, r, etc);
    SG_Field.setCell(3, r, width);

    // Field r is data column r - 1 in a workspace whose invariants hold.
    if (r - 1 < SG_Data.colCount()) {
        SG_Data.setCell(r - 1, 0, name);
        const long long a = width.isEmpty() ? 0 : static_cast<long long>(StrToInt(width)) * 8;
        SG_Data.setColWidth(r - 1, dataColumnWidth(FieldList[r - 1], a));
    }
    return true;
}

TFieldEditorContent TWorkspace::SG_FieldClick(int row) const
{
    TFieldEditorContent content;
    if (row < 0 || row >= SG_Field.rowCount()) {
        return content;
    }
    content.name = SG_Field.cell(0, row);
    const int index = typeIndexOf(SG_Field.cell(1, row));
    if (index >= 0) {
        content.typeIndex = index;
    }
    content.etc = SG_Field.cell(2, row);
    content.width = SG_Field.cell(3, row);
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
        dialogs.inform(MsgTypeExists);
        return std::nullopt;
    }
    typeList.append(boxText);
    return static_cast<int>(typeList.size()) - 1;
}

void TWorkspace::toggleKeyList(TKeyList& list, int itemHeight, TDialogs& dialogs)
{
    markDataEdited();
    if (list.isShown()) {
        list.close();
        return;
    }
    if (FieldCount <= 0) {
        dialogs.inform(MsgNoFields);
        return;
    }
    list.open(list.count() * itemHeight + 5);
}

void TWorkspace::B_PriKeyClick(int itemHeight, TDialogs& dialogs)
{
    toggleKeyList(LB_PriKey, itemHeight, dialogs);
}

void TWorkspace::B_DefOrderClick(int itemHeight, TDialogs& dialogs)
{
    toggleKeyList(LB_DefOrder, itemHeight, dialogs);
}

bool TWorkspace::B_DataAddClick()
{
    markDataEdited();
    if (FieldCount <= 0) {
        return false;
    }
    if (isBlankDataRow(SG_Data.rowCount() - 1)) {
        return false;
    }
    SG_Data.setRowCount(SG_Data.rowCount() + 1);
    return true;
}

int TWorkspace::SG_DataKeyDown(int key, int currentRow) const
{
    if (key == VK_RETURN && currentRow < SG_Data.rowCount() - 1) {
        return currentRow + 1;
    }
    return currentRow;
}

void TWorkspace::moveDataColumn(int from, int to)
{
    SG_Data.moveColumn(from, to);
}

bool TWorkspace::isBlankDataRow(int row) const
{
    const int columns = std::min(FieldCount, SG_Data.colCount());
    return SG_Data.gridRow(row).isBlank(columns);
}

int TWorkspace::lastFilledDataRow() const
{
    int row = SG_Data.rowCount() - 1;
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
    markDataEdited();
    SG_Data.insertRows(std::clamp(at, 1, SG_Data.rowCount()), std::move(rows));
}

void TWorkspace::insertEmptyDataRows(int at, int count)
{
    markDataEdited();
    SG_Data.insertEmptyRows(std::clamp(at, 1, SG_Data.rowCount()), count);
}

std::vector<TGridRow> TWorkspace::copyDataRows(int first, int count) const
{
    return first < 1 ? std::vector<TGridRow>() : SG_Data.copyRows(first, count);
}

TRemovedRows TWorkspace::removeDataRows(int first, int count)
{
    markDataEdited();
    TRemovedRows removed;
    removed.first = std::clamp(first, 1, SG_Data.rowCount());
    removed.rows = SG_Data.takeRows(removed.first, count);
    if (SG_Data.rowCount() < 2) {
        SG_Data.insertEmptyRows(1, 2 - SG_Data.rowCount());
        removed.addedEmptyRow = true;
    }
    return removed;
}

void TWorkspace::restoreDataRows(TRemovedRows removed)
{
    markDataEdited();
    if (removed.addedEmptyRow) {
        SG_Data.takeRows(1, 1);
    }
    SG_Data.insertRows(removed.first, std::move(removed.rows));
}

TCellBlock TWorkspace::swapDataCells(TCellBlock block)
{
    markDataEdited();
    TCellBlock previous;
    previous.col = block.col;
    previous.row = block.row;
    const int lastCol = std::min(block.col + block.width(), SG_Data.colCount()) - 1;
    const int lastRow = std::min(block.row + block.height(), SG_Data.rowCount()) - 1;
    if (block.col < 0 || block.row < 1 || lastCol < block.col) {
        return previous;
    }
    previous.values.reserve(static_cast<size_t>(std::max(lastRow - block.row + 1, 0)));
    for (int r = block.row; r <= lastRow; ++r) {
        auto& values = block.values[static_cast<size_t>(r - block.row)];
        std::vector<QString>& old = previous.values.emplace_back();
        old.reserve(static_cast<size_t>(lastCol - block.col + 1));
        for (int c = block.col; c <= lastCol; ++c) {
            old.push_back(SG_Data.cell(c, r));
        }
        SG_Data.setCells(r, block.col, values.data(), lastCol - block.col + 1);
    }
    return previous;
}

TRemovedField TWorkspace::deleteField(int number)
{
    markDataEdited();
    TRemovedField removed;
    if (number < 1 || number > FieldCount || number > FieldList.size() || number >= SG_Field.rowCount()) {
        return removed;
    }
    removed.number = number;
    removed.name = FieldList.takeAt(number - 1);
    --FieldCount;
    removed.fieldRow = std::move(SG_Field.takeRows(number, 1).front());
    // With no field left both tables keep their one empty row or column, as at start-up.
    if (SG_Field.rowCount() < 2) {
        SG_Field.insertEmptyRows(SG_Field.rowCount(), 1);
    }
    removed.dataColumn = SG_Data.takeColumn(number - 1);
    if (SG_Data.colCount() == 0) {
        SG_Data.setColCount(1);
    }
    removed.primaryKey = LB_PriKey.takeItem(number - 1);
    removed.defaultOrder = LB_DefOrder.takeItem(number - 1);
    FitFieldColumns();
    return removed;
}

void TWorkspace::restoreField(TRemovedField field)
{
    markDataEdited();
    if (field.number < 1 || field.number > FieldCount + 1 || FieldCount > FieldList.size()) {
        return;
    }
    if (FieldCount == 0) {
        // The empty row and column that stood in for the fields give way.
        SG_Field.takeRows(1, SG_Field.rowCount() - 1);
        SG_Data.setColCount(0);
    }
    const int index = field.number - 1;
    FieldList.insert(index, field.name);
    ++FieldCount;
    SG_Field.insertRows(field.number, {std::move(field.fieldRow)});
    if (field.dataColumn.cells.empty()) {
        field.dataColumn.width = SG_Data.defaultColWidth();
    }
    SG_Data.insertColumn(std::min(index, SG_Data.colCount()), std::move(field.dataColumn));
    LB_PriKey.insertItem(index, field.name, field.primaryKey);
    LB_DefOrder.insertItem(index, field.name, field.defaultOrder);
    FitFieldColumns();
}

void TWorkspace::moveField(int number, int to)
{
    markDataEdited();
    const int count = std::min({FieldCount, static_cast<int>(FieldList.size()), SG_Field.rowCount() - 1});
    if (number < 1 || to < 1 || number > count || to > count || number == to) {
        return;
    }
    FieldList.move(number - 1, to - 1);
    SG_Field.insertRows(to, SG_Field.takeRows(number, 1));
    SG_Data.moveColumn(number - 1, to - 1);
    LB_PriKey.moveItem(number - 1, to - 1);
    LB_DefOrder.moveItem(number - 1, to - 1);
}

} // namespace torvane
