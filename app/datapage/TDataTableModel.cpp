#include "datapage/TDataTableModel.h"

#include "TRowValue.h"
#include "commands/TGridRows.h"

#include <QColor>
#include <QGuiApplication>
#include <QPalette>
#include <QRect>

#include <algorithm>

namespace torvane {

namespace {

// Enough of the content to recognise it; the XML page shows it whole.
constexpr qsizetype TipLength = 500;

} // namespace

QString keptContentTip(const QString& content)
{
    if (content.isEmpty()) {
        return {};
    }
    QString shown = content.trimmed();
    if (shown.size() > TipLength) {
        shown = shown.left(TipLength) + QStringLiteral("…");
    }
    return QStringLiteral("読み込んだ子要素（保存するとそのまま書き戻されます）：\n") + shown;
}

TDataTableModel::TDataTableModel(TWorkspace& workspace, QObject* parent)
    : QAbstractTableModel(parent), m_workspace(workspace)
{
    m_keyCheck.setSingleShot(true);
    m_keyCheck.setInterval(300);
    connect(&m_keyCheck, &QTimer::timeout, this, [this] { checkValues(QRect()); });
}

int TDataTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_workspace.SG_Data().rowCount() - 1;
}

int TDataTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_workspace.SG_Data().colCount();
}

QVariant TDataTableModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid)) {
        return {};
    }
    const QVariant shown = cellData(index, role);
    if ((role != Qt::BackgroundRole && role != Qt::ToolTipRole) || m_marks.cellCount() == 0) {
        return shown;
    }
    const auto [first, last] = m_marks.at(index.column(), gridRowOf(index));
    if (first == last) {
        return shown;
    }
    if (role == Qt::BackgroundRole) {
        // A quarter of red over the palette's base: pale on a light palette, dark on a dark one, so that the
        // text keeps its contrast; a selected cell shows the selection instead.
        const QColor base = QGuiApplication::palette().color(QPalette::Base);
        const QColor red(0xff, 0x40, 0x30);
        const auto mix = [](int a, int b) { return (3 * a + b) / 4; };
        return QColor(mix(base.red(), red.red()), mix(base.green(), red.green()), mix(base.blue(), red.blue()));
    }
    const QString tip = m_marks.tip(m_workspace, index.column(), gridRowOf(index));
    // After what the cell's own tooltip says (a large value, an empty string, kept content).
    const QString other = shown.toString();
    return other.isEmpty() ? tip : other + QStringLiteral("\n\n") + tip;
}

QVariant TDataTableModel::cellData(const QModelIndex& index, int role) const
{
    const QStringView cell = m_workspace.SG_Data().cellView(index.column(), gridRowOf(index));
    if (cell.isEmpty()) {
        if (const QVariant shown = emptyStringData(index, role); shown.isValid()) {
            return shown;
        }
    }
    if (role == Qt::DisplayRole || role == Qt::DecorationRole || role == Qt::ToolTipRole) {
        if (const TCellPictures::TPicture* picture = pictureAt(index.column(), gridRowOf(index), cell)) {
            if (role == Qt::DecorationRole) {
                return picture->thumbnail;
            }
            return role == Qt::DisplayRole ? picture->info.description() : TCellPictures::tooltip(cell);
        }
    }
    if (role == Qt::ToolTipRole) {
        if (isBlobValue(cell)) {
            return QStringLiteral("%1 文字の大きな値です。表では編集できません（Ctrl+E の値の窓で表示・編集できます）。"
                                  "保存するとそのまま書き戻されます。")
                .arg(cell.size());
        }
        return keptContentTip(m_workspace.SG_Data().rowContent(gridRowOf(index)));
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole) {
        return {};
    }
    if (isBlobValue(cell)) {
        return QStringLiteral("<BLOB>");
    }
    return m_workspace.SG_Data().cell(index.column(), gridRowOf(index));
}

QVariant TDataTableModel::emptyStringData(const QModelIndex& index, int role) const
{
    const bool emptyString = m_workspace.SG_Data().isEmptyString(index.column(), gridRowOf(index));
    switch (role) {
    case EmptyStringRole:
        return emptyString;
    case Qt::DisplayRole:
        return emptyString ? QVariant(QStringLiteral("\"\"")) : QVariant();
    case Qt::ForegroundRole:
        return emptyString ? QVariant(QColor(0x90, 0x90, 0x90)) : QVariant();
    case Qt::ToolTipRole: {
        if (!emptyString) {
            return {};
        }
        const QString tip = QStringLiteral("空文字列です（%1=\"\" と書き出されます。値なしとは別の値です）")
                                .arg(m_workspace.FieldList().value(index.column()));
        const QString kept = keptContentTip(m_workspace.SG_Data().rowContent(gridRowOf(index)));
        return kept.isEmpty() ? tip : tip + QStringLiteral("\n\n") + kept;
    }
    default:
        return {};
    }
}

bool TDataTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid) || (role != Qt::EditRole && role != EmptyStringRole)) {
        return false;
    }
    const int col = index.column();
    const int row = gridRowOf(index);
    const bool emptyString = role == EmptyStringRole && value.toBool();
    const QString text = role == EmptyStringRole ? QString() : value.toString();
    const QStringView cell = m_workspace.SG_Data().cellView(col, row);
    const bool wasEmptyString = m_workspace.SG_Data().isEmptyString(col, row);
    if (isBlobValue(cell)) {
        // The kept large value is never replaced by what the cell shows.
        return false;
    }
    // The same text leaves an empty string as it is; only the role turns one into no value.
    if (cell == text && (role == Qt::EditRole || emptyString == wasEmptyString)) {
        return true;
    }
    // The page takes dataChanged as a user edit (the text is to be written afresh); the undo step is the
    // editing's, from cellTyped.
    const QString previous = m_workspace.SG_Data().cell(col, row);
    m_workspace.setDataCell(col, row, text, emptyString);
    m_pictures.forget(col, row, 1, 1);
    checkValues(QRect(col, row, 1, 1));
    emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    emit cellTyped(index, previous, wasEmptyString);
    return true;
}

const TCellPictures::TPicture* TDataTableModel::pictureAt(int col, int row, QStringView cell) const
{
    const bool binary = col >= 0 && col < m_workspace.FieldCount() &&
                        TValueField{TypeCodeOf(m_workspace, col + 1), QString()}.isBinary();
    return m_pictures.picture(col, row, cell, binary);
}

QVariant TDataTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= columnCount()) {
        return {};
    }
    return m_workspace.SG_Data().cell(section, 0);
}

Qt::ItemFlags TDataTableModel::flags(const QModelIndex& index) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid)) {
        return Qt::NoItemFlags;
    }
    const Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    const QStringView cell = m_workspace.SG_Data().cellView(index.column(), gridRowOf(index));
    // A picture of any size is edited in the value window: typed into, one stray key would replace it.
    if (isBlobValue(cell) || pictureAt(index.column(), gridRowOf(index), cell)) {
        return flags;
    }
    return flags | Qt::ItemIsEditable;
}

void TDataTableModel::refresh()
{
    beginResetModel();
    m_pictures.clear();
    checkValues(QRect());
    endResetModel();
}

void TDataTableModel::recheckValues()
{
    checkValues(QRect());
}

void TDataTableModel::settleValueMarks()
{
    if (m_keyCheck.isActive()) {
        checkValues(QRect());
    }
}

void TDataTableModel::checkValues(const QRect& cells)
{
    const int before = m_marks.cellCount();
    if (cells.isNull()) {
        m_keyCheck.stop();
        m_marks.checkAll(m_workspace);
    } else if (m_marks.checkCells(m_workspace, cells)) {
        m_keyCheck.start();
    }
    if (cells.isNull() || m_marks.cellCount() != before) {
        emit valueMarksChanged(m_marks.cellCount());
    }
}

void TDataTableModel::cellsChanged(const QRect& cells)
{
    m_pictures.forget(cells.left(), cells.top(), cells.width(), cells.height());
    checkValues(cells);
    const QModelIndex topLeft = index(std::max(viewRowOf(cells.top()), 0), std::max(cells.left(), 0));
    const QModelIndex bottomRight =
        index(std::min(viewRowOf(cells.bottom()), rowCount() - 1), std::min(cells.right(), columnCount() - 1));
    if (topLeft.isValid() && bottomRight.isValid()) {
        emit dataChanged(topLeft, bottomRight, {Qt::DisplayRole, Qt::EditRole});
    }
}

} // namespace torvane
