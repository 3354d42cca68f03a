#pragma once

#include "TValueRules.h"
#include "TWorkspace.h"
#include "datapage/TDataEditingHost.h"
#include "dialogs/TErrorHandler.h"

#include <QWidget>

#include <memory>
#include <vector>

class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTableView;

namespace torvane {

class TDataEditing;
class TDataFind;
class TDataGrid;
class TDataTableModel;
class TFieldTableModel;
class TFieldTypeBox;
class TFieldWidthEdit;
class TFindBar;
class TSplitterBar;

// The data page: packet settings and key buttons, the field editor with the field table, the splitter
// and the data table. Its handlers gather the controls' contents, call the workspace and refresh the
// views; every one runs inside the window's error handler.
class TDataPage : public QWidget, public TDataEditingHost {
    Q_OBJECT
public:
    TDataPage(TWorkspace& workspace, TWindowDialogs& dialogs, const TErrorHandler& errors, QWidget* parent = nullptr);
    ~TDataPage() override;

    // Shows the workspace as it now is: after a parse, or anything else that changed it wholesale.
    void refreshAll();

    // TDataEditingHost
    QWidget* pageWidget() override { return this; }
    void refreshData() override;
    void refreshFieldViews() override;
    void showFieldsAt(int fieldRow) override;
    void notifyEdited() override { emit edited(); }
    void fitDataColumnsToValues(int first, int last) override;

    // The editing of the two tables, with the undo stack that reading a packet empties.
    TDataEditing* editing() const { return m_editing; }
    // Refits the field table's columns to its current size (the page control or the splitter moved).
    void fitFieldColumns();
    // Ctrl+F and Ctrl+H: the find bar under the data table, which gives it room.
    void openFind(bool replace);
    void closeFindBar();
    // F8 and Shift+F8: the next or previous cell whose value does not fit its field, wrapping round.
    void moveToValueProblem(bool forward);
    // The values that do not fit their fields, found when the table was last read or edited.
    const std::vector<TValueProblem>& valueProblems() const;
    // The field group's height, which the splitter sets.
    int fieldGroupHeight() const { return m_fieldGroupHeight; }

    void B_FieldAddClick();
    void B_FieldSetClick();
    void SG_FieldClick();
    void CB_FieldTypeKeyDown(int key);
    void B_PriKeyClick();
    void B_DefOrderClick();
    void B_DataAddClick();
    void SG_DataKeyDown(int key);
    void Splitter1Moved();

signals:
    // The user may have changed the workspace: an editing button (refused or not), a cell, a setting, a key
    // selection or the column order. The window compares the work with the saved work.
    void edited();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void createWholeGroup();
    void createFieldGroup();
    void createDataGroup();
    void createKeyLists();
    void createFindBar();
    void setTabOrders();
    // Every position and size of the page, from the page's and the groups' current client sizes.
    void placeControls();

    void refreshSettings();
    void refreshFields();
    void refreshKeyLists();
    void applyFieldColumnWidths();
    void applyDataColumnWidths();
    void keySelectionChanged(QListWidget* list, TKeyKind keys);
    int keyListHeight(const TKeyList& keys) const;
    void dataColumnMoved(int from, int to);
    void showValueProblemCount(int cells);
    void splitterReleased(int newSize);

    static constexpr int KeyListTop = 32;

    TWorkspace& m_workspace;
    TWindowDialogs& m_dialogs;
    const TErrorHandler& m_errors;
    TFieldTableModel* m_fieldModel = nullptr;
    TDataTableModel* m_dataModel = nullptr;
    TDataEditing* m_editing = nullptr;
    int m_fieldGroupHeight = 207;
    bool m_refreshing = false;

    QGroupBox* GBox_Whole = nullptr;
    QLabel* m_xmlVersionLabel = nullptr;
    QLineEdit* Ed_xmlVersion = nullptr;
    QLabel* m_packetVersionLabel = nullptr;
    QLineEdit* Ed_PacketVersion = nullptr;
    QPushButton* B_DefOrder = nullptr;
    QPushButton* B_PriKey = nullptr;
    QLabel* m_lcidLabel = nullptr;
    QLineEdit* Ed_LCID = nullptr;

    QGroupBox* GBox_Field = nullptr;
    QLabel* m_fieldNameLabel = nullptr;
    QLineEdit* Ed_FieldName = nullptr;
    QLabel* m_fieldEtcLabel = nullptr;
    QLineEdit* Ed_FieldEtc = nullptr;
    QLabel* m_fieldTypeLabel = nullptr;
    TFieldTypeBox* CB_FieldType = nullptr;
    QLabel* m_fieldWidthLabel = nullptr;
    TFieldWidthEdit* SE_FieldWidth = nullptr;
    QPushButton* B_FieldSet = nullptr;
    QPushButton* B_FieldAdd = nullptr;
    QTableView* SG_Field = nullptr;

    TSplitterBar* Splitter1 = nullptr;

    QGroupBox* GBox_Data = nullptr;
    QPushButton* B_DataAdd = nullptr;
    TDataGrid* SG_Data = nullptr;
    std::unique_ptr<TDataFind> m_find;
    TFindBar* m_findBar = nullptr;

    QListWidget* LB_DefOrder = nullptr;
    QListWidget* LB_PriKey = nullptr;
};

} // namespace torvane
