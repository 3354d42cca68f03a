#include "datapage/TDataEditing.h"

#include "TCsvFile.h"
#include "TCsvRecords.h"
#include "TDelimitedText.h"
#include "TFailure.h"
#include "TMemoryProbe.h"
#include "TPacketFile.h"
#include "TRowValue.h"
#include "TWorkspaceTexts.h"
#include "commands/TGridRows.h"
#include "datapage/TDataGrid.h"
#include "datapage/TDataTableModel.h"
#include "valuewindow/TValueWindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QUndoStack>

#include <algorithm>

namespace torvane {

namespace {

const QString CsvUtf8Filter = QStringLiteral("CSV UTF-8 BOM付き (*.csv)");
const QString CsvCp932Filter = QStringLiteral("CSV Shift_JIS (*.csv)");
const QString CsvOpenFilter = QStringLiteral("CSV ファイル (*.csv);;総て (*)");

// Freed memory of this size and more goes back to the system at once.
constexpr qint64 ReturnedMemory = 16 * 1024 * 1024;

bool holdsBlock(const QString& text)
{
    return text.contains(u'\t') || text.contains(u'\n') || text.contains(u'\r');
}

} // namespace

TDataEditing::TDataEditing(TDataEditingHost& host, TWorkspace& workspace, TWindowDialogs& dialogs,
                           const TErrorHandler& errors, TDataGrid* data, TDataTableModel* dataModel, QTableView* fields)
    : QObject(host.pageWidget()), m_host(host), m_workspace(workspace), m_dialogs(dialogs), m_errors(errors),
      m_data(data), m_dataModel(dataModel), m_fields(fields), m_stack(new QUndoStack(this)), m_csvFilter(CsvUtf8Filter)
{
    createActions();
    m_data->setKeyClaim([this](const QKeyEvent& key, const QLineEdit& editor) { return claimsKey(key, editor); });
    m_data->setContextMenuPolicy(Qt::CustomContextMenu);
    m_fields->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_data, &QWidget::customContextMenuRequested, this, &TDataEditing::showDataMenu);
    connect(m_fields, &QWidget::customContextMenuRequested, this, &TDataEditing::showFieldMenu);
    connect(m_dataModel, &TDataTableModel::cellTyped, this, &TDataEditing::cellTyped);
    connect(m_data->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { ++m_typingSession; });
    // The model is reset now and then; its selection model stays the same object.
    connect(m_stack, &QUndoStack::indexChanged, this, &TDataEditing::boundUndo);
    connect(m_stack, &QUndoStack::canRedoChanged, m_redo, &QAction::setEnabled);
}

QAction* TDataEditing::addAction(QWidget* widget, const QString& text, const QList<QKeySequence>& keys,
                                 void (TDataEditing::*slot)())
{
    auto* action = new QAction(text, widget);
    action->setShortcuts(keys);
    // Each table's keys act while it (or its cell editor) has the focus; undo and redo on the whole page.
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    widget->addAction(action);
    if (slot) {
        connect(action, &QAction::triggered, this, [this, slot] { m_errors.run([this, slot] { (this->*slot)(); }); });
    }
    return action;
}

void TDataEditing::createActions()
{
    using K = QKeySequence;
    // "+" needs Shift on most keyboards: Qt matches Ctrl+Shift+= (Ctrl+Shift+; on Japanese keyboards) to
    // Ctrl++ itself; Ctrl+= spares the Shift. A second sequence that matched the same keys would make the
    // shortcut ambiguous, and then it does nothing.
    m_insertRow = addAction(m_data, QStringLiteral("行を挿入"),
                            {K(Qt::CTRL | Qt::Key_Plus), K(Qt::CTRL | Qt::Key_Equal),
                             K(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_Plus))},
                            &TDataEditing::insertRow);
    m_duplicateRows =
        addAction(m_data, QStringLiteral("行を複製"), {K(Qt::CTRL | Qt::Key_D)}, &TDataEditing::duplicateRows);
    m_deleteRows = addAction(
        m_data, QStringLiteral("行を削除"),
        {K(Qt::CTRL | Qt::Key_Minus), K(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_Minus))},
        &TDataEditing::deleteRows);
    m_cut = addAction(m_data, QStringLiteral("切り取り"), {K(K::Cut)}, &TDataEditing::cut);
    m_copy = addAction(m_data, QStringLiteral("コピー"), {K(K::Copy)}, &TDataEditing::copy);
    m_paste = addAction(m_data, QStringLiteral("貼り付け"), {K(K::Paste)}, &TDataEditing::paste);
    m_clear = addAction(m_data, QStringLiteral("内容を消去"), {K(Qt::Key_Delete)}, &TDataEditing::clearCells);
    m_emptyString = addAction(m_data, QStringLiteral("空文字列にする"), {}, &TDataEditing::setEmptyStrings);
    m_noValue = addAction(m_data, QStringLiteral("値なしにする"), {}, &TDataEditing::setNoValues);
    m_emptyString->setToolTip(QStringLiteral("選んだセルを空文字列（NAME=\"\"）にします"));
    m_noValue->setToolTip(QStringLiteral("選んだセルを値なし（属性を書かない。null）にします"));
    m_exportCsv = addAction(m_data, QStringLiteral("CSVに書き出す…"), {}, &TDataEditing::exportCsv);
    m_importCsv = addAction(m_data, QStringLiteral("CSVを読み込む…"), {}, &TDataEditing::importCsv);
    m_showValue =
        addAction(m_data, QStringLiteral("値を表示・編集…"), {K(Qt::CTRL | Qt::Key_E)}, &TDataEditing::showValue);

    m_undo = addAction(m_host.pageWidget(), QStringLiteral("元に戻す"), {K(Qt::CTRL | Qt::Key_Z)}, nullptr);
    m_redo = addAction(m_host.pageWidget(), QStringLiteral("やり直し"),
                       {K(Qt::CTRL | Qt::Key_Y), K(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)}, nullptr);
    m_undo->setEnabled(false);
    m_redo->setEnabled(false);
    connect(m_undo, &QAction::triggered, this, [this] {
        m_errors.run([this] {
            if (m_undo->isEnabled()) {
                m_stack->undo();
            }
        });
    });
    connect(m_redo, &QAction::triggered, this, [this] { m_errors.run([this] { m_stack->redo(); }); });

    m_deleteField =
        addAction(m_fields, QStringLiteral("フィールドを削除"), {K(Qt::Key_Delete)}, &TDataEditing::deleteField);
    m_fieldUp = addAction(m_fields, QStringLiteral("上へ移動"), {K(Qt::ALT | Qt::Key_Up)}, nullptr);
    m_fieldDown = addAction(m_fields, QStringLiteral("下へ移動"), {K(Qt::ALT | Qt::Key_Down)}, nullptr);
    connect(m_fieldUp, &QAction::triggered, this, [this] { m_errors.run([this] { moveField(-1); }); });
    connect(m_fieldDown, &QAction::triggered, this, [this] { m_errors.run([this] { moveField(1); }); });
}

void TDataEditing::clearUndo()
{
    emit undoAboutToClear();
    qint64 held = 0;
    for (int i = 0; i < m_stack->count(); ++i) {
        if (const auto* step = dynamic_cast<const TDataCommand*>(m_stack->command(i)); step && !step->released()) {
            held += step->heldBytes();
        }
    }
    m_stack->clear();
    boundUndo();
    if (held > ReturnedMemory) {
        returnFreedMemory();
    }
}

void TDataEditing::boundUndo()
{
    // Each paste of 100,000 rows keeps some 60 MB for its undo; without a bound the history grew until the
    // next load. The oldest steps let go of theirs first.
    const int index = m_stack->index();
    qint64 held = 0;
    for (int i = index - 1; i >= 0; --i) {
        auto* step = dynamic_cast<TDataCommand*>(const_cast<QUndoCommand*>(m_stack->command(i)));
        if (!step || step->released()) {
            break;
        }
        held += step->heldBytes();
        if (held > m_undoMemory) {
            for (int j = i; j >= 0; --j) {
                auto* older = dynamic_cast<TDataCommand*>(const_cast<QUndoCommand*>(m_stack->command(j)));
                if (!older || older->released()) {
                    break;
                }
                older->release();
            }
            break;
        }
    }
    const auto* last = index > 0 ? dynamic_cast<const TDataCommand*>(m_stack->command(index - 1)) : nullptr;
    m_undo->setEnabled(last && !last->released());
}

void TDataEditing::showDataMenu(const QPoint& pos)
{
    QMenu menu(m_data);
    menu.addActions({m_insertRow, m_duplicateRows, m_deleteRows});
    menu.addSeparator();
    menu.addActions({m_cut, m_copy, m_paste, m_clear});
    menu.addSeparator();
    menu.addActions({m_emptyString, m_noValue});
    menu.addSeparator();
    menu.addActions({m_undo, m_redo});
    menu.addSeparator();
    menu.addActions({m_exportCsv, m_importCsv});
    menu.addSeparator();
    menu.addAction(m_showValue);
    menu.exec(m_data->viewport()->mapToGlobal(pos));
}

void TDataEditing::showFieldMenu(const QPoint& pos)
{
    QMenu menu(m_fields);
    menu.addActions({m_deleteField, m_fieldUp, m_fieldDown});
    menu.addSeparator();
    menu.addActions({m_undo, m_redo});
    menu.exec(m_fields->viewport()->mapToGlobal(pos));
}

bool TDataEditing::claimsKey(const QKeyEvent& key, const QLineEdit& editor) const
{
    const QKeySequence sequence(key.keyCombination());
    const auto bound = [&sequence](const QAction* action) { return action->shortcuts().contains(sequence); };
    // Undo in the table is the page's undo, whole cells at a time, even while there is nothing to undo;
    // Ctrl+E opens the value window (the editor would take it to the end of its line).
    if (bound(m_undo) || bound(m_redo) || bound(m_showValue)) {
        return true;
    }
    // On a single cell the editor keeps what it does with its own text: copying its selected part, pasting
    // a word at the caret, Delete.
    if (bound(m_copy) || bound(m_cut)) {
        return manyCellsSelected() || !editor.hasSelectedText();
    }
    if (bound(m_paste)) {
        return manyCellsSelected() || holdsBlock(QApplication::clipboard()->text());
    }
    if (bound(m_clear)) {
        return manyCellsSelected();
    }
    // Ctrl+A selects the editor's text first, as in any line edit; once all of it is selected (or there is
    // none) the table takes the key and selects every cell.
    if (key.matches(QKeySequence::SelectAll)) {
        return editor.selectedText() == editor.text();
    }
    return false;
}

void TDataEditing::cellTyped(const QModelIndex& index, const QString& previous, bool previousEmptyString)
{
    TCellBlock block;
    block.col = index.column();
    block.row = gridRowOf(index);
    block.values = {{previous}};
    if (previousEmptyString) {
        block.setEmptyStrings(true);
    }
    m_stack->push(new TCellsCommand(*this, QStringLiteral("入力"), std::move(block), 0, true, m_typingSession));
}

// --- Selection -----------------------------------------------------------------------------------------

QRect TDataEditing::selectedCells() const
{
    QRect cells;
    for (const QItemSelectionRange& range : m_data->selectionModel()->selection()) {
        cells |= QRect(QPoint(range.left(), gridRowOf(range.top())), QPoint(range.right(), gridRowOf(range.bottom())));
    }
    const QModelIndex current = m_data->currentIndex();
    if (cells.isNull() && current.isValid()) {
        cells = QRect(current.column(), gridRowOf(current), 1, 1);
    }
    return cells;
}

bool TDataEditing::manyCellsSelected() const
{
    const QRect cells = selectedCells();
    return cells.width() > 1 || cells.height() > 1;
}

int TDataEditing::fieldColumns() const
{
    return m_workspace.FieldCount();
}

void TDataEditing::select(const QRect& cells)
{
    const TStringGrid& grid = m_workspace.SG_Data();
    const QRect shown = cells.intersected(QRect(0, 1, grid.colCount(), grid.rowCount() - 1));
    if (shown.isEmpty()) {
        return;
    }
    const QModelIndex current = m_data->currentIndex();
    const int column = current.isValid() && current.column() >= shown.left() && current.column() <= shown.right()
                           ? current.column()
                           : shown.left();
    QItemSelectionModel* selection = m_data->selectionModel();
    selection->setCurrentIndex(m_dataModel->index(viewRowOf(shown.top()), column), QItemSelectionModel::NoUpdate);
    selection->select(QItemSelection(m_dataModel->index(viewRowOf(shown.top()), shown.left()),
                                     m_dataModel->index(viewRowOf(shown.bottom()), shown.right())),
                      QItemSelectionModel::ClearAndSelect);
    m_data->scrollTo(m_data->currentIndex());
}

// --- TEditTarget ---------------------------------------------------------------------------------------

void TDataEditing::dataCellsChanged(const QRect& cells)
{
    m_dataModel->cellsChanged(cells);
    // The view refreshes an open editor only for a change of its one cell.
    if (QLineEdit* editor = m_data->currentEditor()) {
        m_data->cellDelegate()->setEditorData(editor, m_data->currentIndex());
    }
    select(cells);
    m_host.notifyEdited();
}

void TDataEditing::dataRowsChanged(const QRect& cells)
{
    m_host.refreshData();
    select(cells);
    m_host.notifyEdited();
}

void TDataEditing::dataRowsShifted(int first, int removed, int inserted)
{
    if (m_valueWindow) {
        m_valueWindow->followRows(first, removed, inserted);
    }
}

void TDataEditing::dataColumnMoved(int from, int to)
{
    if (m_valueWindow) {
        m_valueWindow->followColumn(from, to);
    }
    const QModelIndex current = m_data->currentIndex();
    m_host.refreshData();
    if (current.isValid() && current.column() == from) {
        m_data->setCurrentIndex(m_dataModel->index(current.row(), to));
    }
    m_host.notifyEdited();
}

void TDataEditing::fieldsChanged(int fieldRow)
{
    m_host.showFieldsAt(fieldRow);
    m_host.notifyEdited();
}

// --- Rows ----------------------------------------------------------------------------------------------

void TDataEditing::insertRow()
{
    const QModelIndex current = m_data->currentIndex();
    const int at = current.isValid() ? gridRowOf(current) : 1;
    m_stack->push(new TInsertRowsCommand(*this, m_insertRow->text(), at, {TGridRow()}));
}

void TDataEditing::duplicateRows()
{
    const QRect cells = selectedCells();
    if (cells.isEmpty()) {
        return;
    }
    m_stack->push(new TInsertRowsCommand(*this, m_duplicateRows->text(), cells.bottom() + 1,
                                         m_workspace.copyDataRows(cells.top(), cells.height())));
}

void TDataEditing::deleteRows()
{
    const QRect cells = selectedCells();
    if (!cells.isEmpty()) {
        m_stack->push(new TRemoveRowsCommand(*this, cells.top(), cells.height()));
    }
}

void TDataEditing::rowAdded()
{
    const int last = m_workspace.SG_Data().rowCount() - 1;
    m_stack->push(new TInsertRowsCommand(*this, QStringLiteral("新規追加"), last, {TGridRow()}, true));
}

void TDataEditing::moveDataColumn(int from, int to)
{
    m_stack->push(new TColumnMoveCommand(*this, from, to));
}

// --- Ranges --------------------------------------------------------------------------------------------

void TDataEditing::copy()
{
    const QRect cells = selectedCells().intersected(
        QRect(0, 1, m_workspace.SG_Data().colCount(), m_workspace.SG_Data().rowCount() - 1));
    if (cells.isEmpty()) {
        return;
    }
    TTextTable rows;
    rows.reserve(static_cast<size_t>(cells.height()));
    for (int r = cells.top(); r <= cells.bottom(); ++r) {
        auto& values = rows.emplace_back();
        values.reserve(static_cast<size_t>(cells.width()));
        for (int c = cells.left(); c <= cells.right(); ++c) {
            values.push_back(m_workspace.SG_Data().cell(c, r));
        }
    }
    QApplication::clipboard()->setText(toTabText(rows));
}

void TDataEditing::cut()
{
    copy();
    emptyCells(m_cut->text());
}

void TDataEditing::clearCells()
{
    emptyCells(m_clear->text());
}

void TDataEditing::setEmptyStrings()
{
    emptyCells(m_emptyString->text(), true);
}

void TDataEditing::setNoValues()
{
    emptyCells(m_noValue->text());
}

void TDataEditing::emptyCells(const QString& text, bool emptyStrings)
{
    const QRect cells = selectedCells();
    TCellBlock block = planPaste({{QString()}}, cells, fieldColumns());
    if (emptyStrings) {
        block.setEmptyStrings(true);
    }
    pushCells(text, std::move(block));
}

void TDataEditing::paste()
{
    TTextTable values = fromTabText(QApplication::clipboard()->text());
    if (!values.empty()) {
        pushCells(m_paste->text(), planPaste(std::move(values), selectedCells(), fieldColumns()));
    }
}

void TDataEditing::pushCells(const QString& text, TCellBlock block)
{
    if (block.values.empty() || block.row < 1) {
        return;
    }
    const int added = std::max(0, block.row + block.height() - m_workspace.SG_Data().rowCount());
    // A large value (shown as "<BLOB>") is kept as it is: pastes, cuts and clears pass over its cell, as
    // typing cannot reach it either.
    const TStringGrid& grid = m_workspace.SG_Data();
    for (int i = 0; i < block.height(); ++i) {
        const int r = block.row + i;
        for (int j = 0; r < grid.rowCount() && j < block.width(); ++j) {
            const int c = block.col + j;
            if (c < grid.colCount() && isBlobValue(grid.cellView(c, r))) {
                block.values[static_cast<size_t>(i)][static_cast<size_t>(j)] = grid.cell(c, r);
            }
        }
    }
    m_stack->push(new TCellsCommand(*this, text, std::move(block), added));
}

// --- CSV -----------------------------------------------------------------------------------------------

void TDataEditing::exportCsv()
{
    const int fields = m_workspace.FieldCount();
    if (fields <= 0) {
        m_dialogs.inform(MsgNoFields);
        return;
    }
    const std::optional<TSaveChoice> choice =
        askSaveFileNameAndFilter(m_dialogs, m_csvName,
                                 CsvUtf8Filter + QStringLiteral(";;") + CsvCp932Filter, m_csvFilter);
    if (!choice) {
        return;
    }
    const QString fileName = choice->fileNameWithExtension();
    m_csvName = fileName;
    m_csvFilter = choice->filter;

    const TStringGrid& data = m_workspace.SG_Data();
    int last = data.rowCount() - 1;
    if (last >= 1 && m_workspace.isBlankDataRow(last)) {
        --last;
    }
    // The rows go out one at a time: a million of them were once gathered as text and then as bytes, a
    // gigabyte beside the table.
    TCsvFileWriter file(fileName, choice->filter == CsvCp932Filter ? TCsvEncoding::Cp932 : TCsvEncoding::Utf8WithBom);
    std::vector<QStringView> values(m_workspace.FieldList().begin(), m_workspace.FieldList().end());
    values.resize(static_cast<size_t>(fields));
    file.writeRecord(values.data(), fields);
    for (int r = 1; r <= last; ++r) {
        data.gridRow(r).views(values.data(), fields);
        file.writeRecord(values.data(), fields);
    }
    file.commit();
}

TCsvImportPreview TDataEditing::csvPreview(const QByteArray& bytes, const TCsvImportOptions& options,
                                           TDecodedCsv& decoded) const
{
    // The first records are enough to tell a wrong separator or encoding at a glance.
    constexpr qsizetype PreviewRows = 20;
    TCsvImportPreview preview;
    std::variant<TCsvRecords, TCsvRefusal> read;
    try {
        if (decoded.encoding != options.encoding) {
            decoded = {};
            decoded.text = decodeCsvText(bytes, options.encoding);
            decoded.encoding = options.encoding;
        }
        read = readCsvRecords(decoded.text, options.separator, options.header, PreviewRows);
    } catch (const TFailure& failure) {
        read = TCsvRefusal{failure.message()};
    }
    if (const auto* refusal = std::get_if<TCsvRefusal>(&read)) {
        preview.outcome = refusal->message;
        return preview;
    }
    const TCsvRecords& csv = std::get<TCsvRecords>(read);
    preview.readable = true;
    preview.names = csv.names;
    for (const TGridRow& record : csv.records) {
        const std::vector<QString> values = record.cells(static_cast<int>(csv.names.size()));
        preview.rows.append(QStringList(values.begin(), values.end()));
    }
    QStringList added;
    for (const QString& name : csv.names) {
        if (TWorkspace::indexOfName(m_workspace.FieldList(), name) < 0) {
            added.append(name);
        }
    }
    preview.outcome = QStringLiteral("%1 件のレコードを %2 行目から追加します。")
                          .arg(csv.count)
                          .arg(m_workspace.lastFilledDataRow() + 1);
    preview.outcome += added.isEmpty() ? QStringLiteral("フィールドは追加しません。")
                                       : QStringLiteral("文字列のフィールドを %1 個追加します：%2")
                                             .arg(added.size())
                                             .arg(added.join(QStringLiteral("、")));
    return preview;
}

void TDataEditing::importCsv()
{
    const std::optional<QString> name = m_dialogs.openFileNameWithFilter(m_csvName, CsvOpenFilter);
    if (!name) {
        return;
    }
    m_csvName = *name;
    QByteArray bytes = readRegularFile(*name);
    TDecodedCsv decoded;
    const std::optional<TCsvImportOptions> options =
        m_dialogs.chooseCsvImport(*name, [this, &bytes, &decoded](const TCsvImportOptions& choice) {
            return csvPreview(bytes, choice, decoded);
        });
    if (!options) {
        return;
    }
    // Each of the file's bytes, its text and its records is let go of as soon as the next is made, so that
    // a file of a million records is held in no more than two forms at a time.
    std::variant<TCsvRecords, TCsvRefusal> read;
    {
        const QString text =
            decoded.encoding == options->encoding ? std::move(decoded.text) : decodeCsvText(bytes, options->encoding);
        decoded = {};
        bytes = QByteArray();
        read = readCsvRecords(text, options->separator, options->header);
    }
    if (const auto* refusal = std::get_if<TCsvRefusal>(&read)) {
        m_dialogs.inform(refusal->message);
        return;
    }
    TCsvRecords& csv = std::get<TCsvRecords>(read);

    // Names the workspace lacks become string fields, added as the add button adds them.
    m_workspace.markDataEdited();
    const int firstAdded = m_workspace.FieldCount();
    bool added = false;
    for (const QString& name : csv.names) {
        if (TWorkspace::indexOfName(m_workspace.FieldList(), name) < 0) {
            added = m_workspace.AddFieldRow(name, StringTypeText, QString(), QString(), m_dialogs) || added;
        }
    }
    if (added) {
        clearUndo();
        m_host.refreshFieldViews();
    }
    // The records take the place of the blank rows below the last row that holds a value, as one step.
    const int columns = fieldColumns();
    std::vector<int> columnOf;
    bool inPlace = true;
    for (const QString& name : csv.names) {
        const int column = TWorkspace::indexOfName(m_workspace.FieldList(), name);
        columnOf.push_back(column >= 0 && column < columns ? column : -1);
        inPlace = inPlace && columnOf.back() == static_cast<int>(columnOf.size()) - 1;
    }
    const TStringGrid& grid = m_workspace.SG_Data();
    const int first = m_workspace.lastFilledDataRow() + 1;
    const int blank = grid.rowCount() - first;
    std::vector<QStringView> values(static_cast<size_t>(csv.names.size()));
    std::vector<QStringView> placed(static_cast<size_t>(columns));
    for (size_t i = 0; i < csv.records.size(); ++i) {
        TGridRow& record = csv.records[i];
        if (!inPlace) {
            // The file's columns in the order of the fields they name.
            record.views(values.data(), static_cast<int>(values.size()));
            std::fill(placed.begin(), placed.end(), QStringView());
            for (size_t k = 0; k < values.size(); ++k) {
                if (columnOf[k] >= 0) {
                    placed[static_cast<size_t>(columnOf[k])] = values[k];
                }
            }
            TGridRow row;
            row.setCells(placed.data(), columns);
            record = std::move(row);
        }
        // A blank row written over keeps what was read with it that no column shows.
        if (static_cast<int>(i) < blank) {
            record.content = grid.rowContent(first + static_cast<int>(i));
        }
    }
    if (!csv.records.empty()) {
        const int replaced = std::min(blank, static_cast<int>(csv.records.size()));
        m_stack->push(
            new TReplaceRowsCommand(*this, QStringLiteral("CSVを読み込む"), first, replaced, std::move(csv.records)));
    }
    // The added fields have no width: their columns take their values' width.
    if (added) {
        m_host.fitDataColumnsToValues(firstAdded, m_workspace.FieldCount() - 1);
    }
    m_host.notifyEdited();
    // The file's bytes and text are gone.
    returnFreedMemory();
}

// --- Values ------------------------------------------------------------------------------------------

void TDataEditing::showValue()
{
    const QModelIndex current = m_data->currentIndex();
    if (!current.isValid()) {
        return;
    }
    if (!m_valueWindow) {
        m_valueWindow =
            new TValueWindow(TValueCell(*this, m_stack), m_dataModel, m_dialogs, m_errors, m_data->window());
    }
    m_valueWindow->showCell(current.column(), gridRowOf(current));
    m_valueWindow->show();
    m_valueWindow->raise();
    m_valueWindow->activateWindow();
}

// --- Fields --------------------------------------------------------------------------------------------

void TDataEditing::deleteField()
{
    const QModelIndex current = m_fields->currentIndex();
    const int number = current.isValid() ? gridRowOf(current) : 0;
    if (number >= 1 && number <= m_workspace.FieldCount()) {
        m_stack->push(new TFieldDeleteCommand(*this, number));
    }
}

void TDataEditing::moveField(int step)
{
    const QModelIndex current = m_fields->currentIndex();
    const int number = current.isValid() ? gridRowOf(current) : 0;
    const int to = number + step;
    if (number >= 1 && number <= m_workspace.FieldCount() && to >= 1 && to <= m_workspace.FieldCount()) {
        m_stack->push(new TFieldMoveCommand(*this, number, to));
    }
}

} // namespace torvane
