#pragma once

#include "TCellValue.h"
#include "dialogs/TErrorHandler.h"
#include "valuewindow/TValueCell.h"

#include <QWidget>

class QAbstractItemModel;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QStackedWidget;
class QTabWidget;
class QTableView;

namespace torvane {

class THexModel;
class TTextView;

// The value window: one data cell's value, whole, as text, as a picture or as hex, in a window of its own
// beside the main window. The text view's edits are applied to the cell as one undo step; a file's bytes
// can be read into the cell and the value written out to a file. Large values ("<BLOB>" in the table) are
// edited here and only here. The window follows the table: when the cell changes behind it (undo, a paste,
// a read packet) it shows the cell's new value; when rows come or go before its record, or its column moves, it
// follows the record, text typed and not yet applied included.
class TValueWindow : public QWidget {
    Q_OBJECT
public:
    TValueWindow(TValueCell cell, QAbstractItemModel* table, TWindowDialogs& dialogs, const TErrorHandler& errors,
                 QWidget* parent = nullptr);
    ~TValueWindow() override;

    // Shows grid cell (col, row); unapplied text edits of the cell shown before are asked about first.
    void showCell(int col, int row);
    int column() const { return m_col; }
    int row() const { return m_row; }
    const TCellValue& value() const { return m_value; }

    TValueView currentView() const;
    void setView(TValueView view);

    // 読み込み… / 書き出し… / 適用
    void importFile();
    void exportFile();
    void applyText();
    // Unapplied text edits are applied or dropped as the user answers; false when the window is to stay.
    bool settleEdits();

    // Grid rows first .. first + removed - 1 went and `inserted` rows came in their place: the window keeps to
    // its record. When the record itself went, text typed and not applied stays in the window until it is
    // closed (which asks), and nothing else is shown there.
    void followRows(int first, int removed, int inserted);
    // The data column `from` moved to `to`.
    void followColumn(int from, int to);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void reload();
    void showValue();
    void loadText();
    bool textModified() const;
    void setTextUnmodified();
    void tableChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight);
    void showTitle();

    TValueCell m_cell;
    QAbstractItemModel* m_table;
    TWindowDialogs& m_dialogs;
    const TErrorHandler& m_errors;
    int m_col = -1;
    int m_row = -1;
    // The record shown was removed while text typed into it was not applied: the text stays for the user.
    bool m_recordGone = false;
    TCellValue m_value;
    bool m_textLoaded = false;
    QString m_lastFile;

    QLabel* m_status = nullptr;
    QTabWidget* m_views = nullptr;
    // Text is shown wrapped; text too long to lay out whole at once goes to a view that lays out only the
    // lines on screen, unwrapped.
    QStackedWidget* m_textPages = nullptr;
    QPlainTextEdit* m_text = nullptr;
    TTextView* m_longText = nullptr;
    QScrollArea* m_imageArea = nullptr;
    QLabel* m_image = nullptr;
    QTableView* m_hex = nullptr;
    THexModel* m_hexModel = nullptr;
    QPushButton* m_import = nullptr;
    QPushButton* m_export = nullptr;
    QPushButton* m_apply = nullptr;
};

} // namespace torvane
