#include "datapage/TDataPage.h"

#include "commands/TGridRows.h"
#include "datapage/TDataEditing.h"
#include "datapage/TDataFind.h"
#include "datapage/TDataGrid.h"
#include "datapage/TDataTableModel.h"
#include "datapage/TFieldGrid.h"
#include "datapage/TFieldTableModel.h"
#include "widgets/TFieldTypeBox.h"
#include "widgets/TFieldWidthEdit.h"
#include "widgets/TFindBar.h"
#include "widgets/TGroupBox.h"
#include "widgets/TLabelFit.h"
#include "widgets/TPushButton.h"
#include "widgets/TSplitterBar.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QResizeEvent>
#include <QShortcut>
#include <QTableView>

#include <algorithm>

namespace torvane {

namespace {

constexpr int EditHeight = 21;

// The stacked heights of the page: the top group, the splitter bar, and the least the data group keeps.
constexpr int WholeGroupHeight = 41;
constexpr int SplitterHeight = 8;
constexpr int DataGroupMinHeight = 60;

QLabel* makeLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->adjustSize();
    return label;
}

QLineEdit* makeEdit(const char* name, const QString& text, QWidget* parent)
{
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(QString::fromLatin1(name));
    return edit;
}

QPushButton* makeButton(const char* name, const QString& caption, QWidget* parent)
{
    auto* button = new TPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

void place(QWidget* widget, int left, int top, int width, int height)
{
    widget->setGeometry(left, top, std::max(0, width), std::max(0, height));
}

// A label is as large as its text in the font it has now (which it may have inherited only after it
// was created); only its top-left corner is placed.
void placeLabel(QLabel* label, int left, int top)
{
    label->adjustSize();
    label->move(left, top);
}

} // namespace

TDataPage::TDataPage(TWorkspace& workspace, TWindowDialogs& dialogs, const TErrorHandler& errors, QWidget* parent)
    : QWidget(parent), m_workspace(workspace), m_dialogs(dialogs), m_errors(errors)
{
    createWholeGroup();
    createFieldGroup();
    Splitter1 = new TSplitterBar(this);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setSizeSource([this] { return m_fieldGroupHeight; },
                             [this] { return height() - WholeGroupHeight - SplitterHeight - DataGroupMinHeight; });
    connect(Splitter1, &TSplitterBar::moved, this, &TDataPage::splitterReleased);
    createDataGroup();
    createKeyLists();
    setTabOrders();
    m_editing = new TDataEditing(*this, m_workspace, m_dialogs, m_errors, SG_Data, m_dataModel, SG_Field);
    createFindBar();

    // Data columns are as wide as their names in the table's own font.
    m_workspace.setTextMeasure([this](const QString& text) { return SG_Data->fontMetrics().horizontalAdvance(text); });
    placeControls();
    refreshAll();
}

TDataPage::~TDataPage() = default;

void TDataPage::createWholeGroup()
{
    GBox_Whole = new TGroupBox(QStringLiteral("全体管理"), this);
    GBox_Whole->setObjectName(QStringLiteral("GBox_Whole"));
    m_xmlVersionLabel = makeLabel(QStringLiteral("XMLの versionは"), GBox_Whole);
    Ed_xmlVersion = makeEdit("Ed_xmlVersion", m_workspace.Ed_xmlVersion(), GBox_Whole);
    m_packetVersionLabel = makeLabel(QStringLiteral("DATAPACKETのVersionは"), GBox_Whole);
    Ed_PacketVersion = makeEdit("Ed_PacketVersion", m_workspace.Ed_PacketVersion(), GBox_Whole);
    B_DefOrder = makeButton("B_DefOrder", m_workspace.LB_DefOrder().caption(), GBox_Whole);
    B_PriKey = makeButton("B_PriKey", m_workspace.LB_PriKey().caption(), GBox_Whole);
    m_lcidLabel = makeLabel(QStringLiteral("LCIDは"), GBox_Whole);
    Ed_LCID = makeEdit("Ed_LCID", m_workspace.Ed_LCID(), GBox_Whole);

    // The settings are the workspace's; what the user types goes straight into it and is to reach the
    // packet text. The reader's own filling (setText) is no edit.
    const auto settingEdited = [this] {
        m_workspace.markDataEdited();
        emit edited();
    };
    connect(Ed_xmlVersion, &QLineEdit::textEdited, this, [this, settingEdited](const QString& text) {
        m_workspace.setXmlVersion(text);
        settingEdited();
    });
    connect(Ed_PacketVersion, &QLineEdit::textEdited, this, [this, settingEdited](const QString& text) {
        m_workspace.setPacketVersion(text);
        settingEdited();
    });
    connect(Ed_LCID, &QLineEdit::textEdited, this, [this, settingEdited](const QString& text) {
        m_workspace.setLCID(text);
        settingEdited();
    });
    // Each label names its box for screen readers (without a buddy they all took the group's title).
    m_xmlVersionLabel->setBuddy(Ed_xmlVersion);
    m_packetVersionLabel->setBuddy(Ed_PacketVersion);
    m_lcidLabel->setBuddy(Ed_LCID);
    connect(B_DefOrder, &QPushButton::clicked, this, &TDataPage::B_DefOrderClick);
    connect(B_PriKey, &QPushButton::clicked, this, &TDataPage::B_PriKeyClick);
}

void TDataPage::createFieldGroup()
{
    GBox_Field = new TGroupBox(QStringLiteral("フィールド"), this);
    GBox_Field->setObjectName(QStringLiteral("GBox_Field"));
    m_fieldNameLabel = makeLabel(QStringLiteral("フィールド名"), GBox_Field);
    Ed_FieldName = makeEdit("Ed_FieldName", QString(), GBox_Field);
    m_fieldEtcLabel = makeLabel(QStringLiteral("その他設定文"), GBox_Field);
    Ed_FieldEtc = makeEdit("Ed_FieldEtc", QString(), GBox_Field);
    m_fieldTypeLabel = makeLabel(QStringLiteral("データ形式"), GBox_Field);
    CB_FieldType = new TFieldTypeBox(GBox_Field);
    CB_FieldType->setObjectName(QStringLiteral("CB_FieldType"));
    m_fieldWidthLabel = makeLabel(QStringLiteral("幅"), GBox_Field);
    SE_FieldWidth = new TFieldWidthEdit(GBox_Field);
    SE_FieldWidth->setObjectName(QStringLiteral("SE_FieldWidth"));
    B_FieldSet = makeButton("B_FieldSet", QStringLiteral("変更"), GBox_Field);
    B_FieldAdd = makeButton("B_FieldAdd", QStringLiteral("新規追加"), GBox_Field);

    m_fieldNameLabel->setBuddy(Ed_FieldName);
    m_fieldEtcLabel->setBuddy(Ed_FieldEtc);
    m_fieldTypeLabel->setBuddy(CB_FieldType);
    m_fieldWidthLabel->setBuddy(SE_FieldWidth);
    // The two add buttons read the same on screen, where their groups tell them apart; a screen reader
    // names them apart.
    B_FieldAdd->setAccessibleName(QStringLiteral("フィールドを新規追加"));

    m_fieldModel = new TFieldTableModel(m_workspace, this);
    SG_Field = new TFieldGrid(GBox_Field);
    SG_Field->setObjectName(QStringLiteral("SG_Field"));
    SG_Field->setAccessibleName(QStringLiteral("フィールド一覧"));
    SG_Field->setModel(m_fieldModel);
    SG_Field->setEditTriggers(QAbstractItemView::NoEditTriggers);
    SG_Field->setSelectionBehavior(QAbstractItemView::SelectRows);
    SG_Field->setSelectionMode(QAbstractItemView::SingleSelection);
    SG_Field->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    SG_Field->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    SG_Field->setTabKeyNavigation(false);
    SG_Field->verticalHeader()->hide();
    SG_Field->verticalHeader()->setMinimumSectionSize(1);
    SG_Field->verticalHeader()->setDefaultSectionSize(TWorkspace::DefaultRowHeight);
    SG_Field->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    SG_Field->horizontalHeader()->setStretchLastSection(false);
    SG_Field->horizontalHeader()->setHighlightSections(false);
    SG_Field->horizontalHeader()->setSectionsClickable(false);

    connect(B_FieldAdd, &QPushButton::clicked, this, &TDataPage::B_FieldAddClick);
    connect(B_FieldSet, &QPushButton::clicked, this, &TDataPage::B_FieldSetClick);
    connect(CB_FieldType, &TFieldTypeBox::enterPressed, this, [this] { CB_FieldTypeKeyDown(VK_RETURN); });
    // A click loads the row even when it is already the current one; keyboard moves change the current row.
    connect(SG_Field, &QTableView::clicked, this, &TDataPage::SG_FieldClick);
    connect(SG_Field->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] {
        if (!m_refreshing) {
            SG_FieldClick();
        }
    });
}

void TDataPage::createDataGroup()
{
    GBox_Data = new TGroupBox(QStringLiteral("データ"), this);
    GBox_Data->setObjectName(QStringLiteral("GBox_Data"));
    B_DataAdd = makeButton("B_DataAdd", QStringLiteral("新規追加"), GBox_Data);
    m_dataModel = new TDataTableModel(m_workspace, this);
    SG_Data = new TDataGrid(GBox_Data);
    SG_Data->setObjectName(QStringLiteral("SG_Data"));
    SG_Data->setAccessibleName(QStringLiteral("データ"));
    B_DataAdd->setAccessibleName(QStringLiteral("データ行を新規追加"));
    SG_Data->setModel(m_dataModel);
    SG_Data->setFocusScope(this);

    connect(B_DataAdd, &QPushButton::clicked, this, &TDataPage::B_DataAddClick);
    // Typing into a cell is stored keystroke by keystroke through the model, and is a user edit.
    connect(m_dataModel, &QAbstractItemModel::dataChanged, this, [this] {
        m_workspace.markDataEdited();
        emit edited();
    });
    connect(SG_Data, &TDataGrid::keyDown, this, &TDataPage::SG_DataKeyDown);
    connect(m_dataModel, &TDataTableModel::valueMarksChanged, this, &TDataPage::showValueProblemCount);
    for (const bool forward : {true, false}) {
        auto* shortcut = new QShortcut(forward ? QKeySequence(Qt::Key_F8) : QKeySequence(Qt::SHIFT | Qt::Key_F8), this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, forward] { moveToValueProblem(forward); });
    }
    connect(SG_Data->horizontalHeader(), &QHeaderView::sectionMoved, this,
            [this](int, int from, int to) { dataColumnMoved(from, to); });
    connect(SG_Data->horizontalHeader(), &QHeaderView::sectionResized, this, [this](int column, int, int width) {
        if (!m_refreshing) {
            m_workspace.setDataColumnWidth(column, width);
        }
    });
}

void TDataPage::createKeyLists()
{
    // The lists belong to the page itself so that, open, they lie over the field group.
    auto makeList = [this](const char* name) {
        auto* list = new QListWidget(this);
        list->setObjectName(QString::fromLatin1(name));
        list->setSelectionMode(QAbstractItemView::ExtendedSelection);
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        list->setUniformItemSizes(true);
        list->hide();
        return list;
    };
    LB_DefOrder = makeList("LB_DefOrder");
    LB_PriKey = makeList("LB_PriKey");
    connect(LB_DefOrder, &QListWidget::itemSelectionChanged, this,
            [this] { keySelectionChanged(LB_DefOrder, TKeyKind::DefaultOrder); });
    connect(LB_PriKey, &QListWidget::itemSelectionChanged, this,
            [this] { keySelectionChanged(LB_PriKey, TKeyKind::PrimaryKey); });
}

void TDataPage::createFindBar()
{
    m_find = std::make_unique<TDataFind>(m_workspace, SG_Data, *m_editing);
    m_findBar = new TFindBar(*m_find, GBox_Data);
    // The XML page has a find bar of its own: the names tell them apart.
    m_findBar->setObjectName(QStringLiteral("DataFindBar"));
    for (QWidget* child : m_findBar->findChildren<QWidget*>()) {
        if (!child->objectName().isEmpty()) {
            child->setObjectName(QStringLiteral("Data") + child->objectName());
        }
    }
    m_findBar->hide();
    connect(m_findBar, &TFindBar::closeRequested, this, &TDataPage::closeFindBar);
    const auto add = [this](const QKeySequence& keys, auto&& slot) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, slot] { m_errors.run(slot); });
    };
    add(QKeySequence(Qt::CTRL | Qt::Key_F), [this] { openFind(false); });
    add(QKeySequence(Qt::CTRL | Qt::Key_H), [this] { openFind(true); });
    add(QKeySequence(Qt::Key_F3), [this] {
        if (!m_findBar->isVisible()) {
            openFind(false);
        }
        m_findBar->findNext();
    });
    add(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] {
        if (!m_findBar->isVisible()) {
            openFind(false);
        }
        m_findBar->findPrevious();
    });
}

void TDataPage::openFind(bool replace)
{
    // A value selected in the cell editor is what the user means to find.
    const QLineEdit* editor = SG_Data->currentEditor();
    const QString initial = editor ? editor->selectedText() : QString();
    if (replace) {
        m_findBar->openReplace(initial);
    } else {
        m_findBar->openFind(initial);
    }
    placeControls();
}

void TDataPage::closeFindBar()
{
    if (!m_findBar->isVisible()) {
        return;
    }
    m_findBar->hide();
    placeControls();
    SG_Data->setFocus();
}

void TDataPage::setTabOrders()
{
    setTabOrder(Ed_xmlVersion, Ed_PacketVersion);
    setTabOrder(Ed_PacketVersion, B_PriKey);
    setTabOrder(B_PriKey, B_DefOrder);
    setTabOrder(B_DefOrder, Ed_LCID);
    setTabOrder(Ed_LCID, Ed_FieldName);
    setTabOrder(Ed_FieldName, CB_FieldType);
    setTabOrder(CB_FieldType, Ed_FieldEtc);
    setTabOrder(Ed_FieldEtc, B_FieldAdd);
    setTabOrder(B_FieldAdd, SG_Field);
    setTabOrder(SG_Field, SE_FieldWidth);
    setTabOrder(SE_FieldWidth, B_FieldSet);
    setTabOrder(B_FieldSet, B_DataAdd);
    setTabOrder(B_DataAdd, SG_Data);
}

void TDataPage::placeControls()
{
    // The page: the top group, the field group at the splitter's height, the splitter bar, and the data
    // group taking the rest, all across the page's width.
    const int pageWidth = width();
    const int pageHeight = height();
    const int fieldTop = WholeGroupHeight;
    const int splitterTop = fieldTop + m_fieldGroupHeight;
    const int dataTop = splitterTop + SplitterHeight;
    place(GBox_Whole, 0, 0, pageWidth, WholeGroupHeight);
    place(GBox_Field, 0, fieldTop, pageWidth, m_fieldGroupHeight);
    place(Splitter1, 0, splitterTop, pageWidth, SplitterHeight);
    place(GBox_Data, 0, dataTop, pageWidth, pageHeight - dataTop);

    // Top group "全体管理": labels at top 16, edits at 12, buttons at 10.
    placeLabel(m_xmlVersionLabel, 8, 16);
    place(Ed_xmlVersion, 110, 12, 25, EditHeight);
    placeLabel(m_packetVersionLabel, 148, 16);
    place(Ed_PacketVersion, 304, 12, 25, EditHeight);
    place(B_DefOrder, 352, 10, 113, 25);
    place(B_PriKey, 488, 10, 113, 25);
    placeLabel(m_lcidLabel, 616, 16);
    place(Ed_LCID, 664, 12, 57, EditHeight);

    // Field group "フィールド": two editor rows, the buttons following the right edge, the table below.
    const int fieldCW = GBox_Field->width();
    const int fieldCH = GBox_Field->height();
    placeLabel(m_fieldNameLabel, 8, 20);
    place(Ed_FieldName, 80, 16, 121, EditHeight);
    placeLabel(m_fieldEtcLabel, 224, 20);
    place(Ed_FieldEtc, 312, 16, fieldCW - 326, EditHeight);
    placeLabel(m_fieldTypeLabel, 8, 44);
    place(CB_FieldType, 80, 40, 121, EditHeight);
    placeLabel(m_fieldWidthLabel, 288, 44);
    place(SE_FieldWidth, 312, 40, 97, EditHeight);
    place(B_FieldSet, fieldCW - 151, 40, 65, 20);
    place(B_FieldAdd, fieldCW - 79, 40, 65, 20);
    place(SG_Field, 2, 64, fieldCW - 4, fieldCH - 66);

    // Data group "データ": the add button at the top right, the table below it to the bottom.
    const int dataCW = GBox_Data->width();
    const int dataCH = GBox_Data->height();
    place(B_DataAdd, dataCW - 95, 12, 81, 17);
    const int barHeight = m_findBar && m_findBar->isVisible() ? m_findBar->sizeHint().height() : 0;
    place(SG_Data, 2, 32, dataCW - 4, dataCH - 34 - barHeight);
    if (barHeight > 0) {
        place(m_findBar, 2, dataCH - 2 - barHeight, dataCW - 4, barHeight);
    }

    // The key lists keep their places under their buttons.
    place(LB_DefOrder, 352, KeyListTop, 113, keyListHeight(m_workspace.LB_DefOrder()));
    place(LB_PriKey, 488, KeyListTop, 113, keyListHeight(m_workspace.LB_PriKey()));
    for (QWidget* group : {static_cast<QWidget*>(GBox_Whole), static_cast<QWidget*>(GBox_Field)}) {
        fitLabelsToTheirControls(group);
    }

    fitFieldColumns();
}

int TDataPage::keyListHeight(const TKeyList& keys) const
{
    // As high as its items, but never past the page's bottom: a longer list scrolls.
    return std::max(0, std::min(keys.height(), height() - KeyListTop));
}

void TDataPage::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    placeControls();
}

void TDataPage::fitFieldColumns()
{
    m_workspace.setFieldTableSize(SG_Field->width(), SG_Field->height());
    applyFieldColumnWidths();
}

void TDataPage::applyFieldColumnWidths()
{
    for (int c = 0; c < m_workspace.SG_Field().colCount(); ++c) {
        SG_Field->setColumnWidth(c, std::max(0, m_workspace.SG_Field().colWidth(c)));
    }
}

void TDataPage::applyDataColumnWidths()
{
    const bool wasRefreshing = m_refreshing;
    m_refreshing = true;
    std::vector<int> widths(static_cast<size_t>(std::max(0, m_workspace.SG_Data().colCount())));
    for (size_t c = 0; c < widths.size(); ++c) {
        widths[c] = m_workspace.SG_Data().colWidth(static_cast<int>(c));
    }
    SG_Data->setColumnWidths(widths);
    m_refreshing = wasRefreshing;
}

void TDataPage::fitDataColumnsToValues(int first, int last)
{
    // A sample of rows keeps a read of a million rows quick; the cap keeps one long text from pushing the
    // other columns out of sight. The padding is the cell's text margins.
    constexpr int SampleRows = 100;
    constexpr int CellPadding = 8;
    constexpr int WidestFit = 300;
    m_workspace.fitDataColumnsToValues(first, last, SampleRows, CellPadding, WidestFit);
    applyDataColumnWidths();
}

void TDataPage::refreshAll()
{
    refreshSettings();
    refreshFieldViews();
}

void TDataPage::refreshFieldViews()
{
    refreshFields();
    refreshData();
    refreshKeyLists();
}

void TDataPage::showFieldsAt(int fieldRow)
{
    refreshFieldViews();
    fitFieldColumns();
    const int rows = m_fieldModel->rowCount();
    if (rows > 0) {
        SG_Field->setCurrentIndex(m_fieldModel->index(std::clamp(viewRowOf(fieldRow), 0, rows - 1), 0));
    }
    SG_FieldClick();
}

void TDataPage::refreshSettings()
{
    Ed_xmlVersion->setText(m_workspace.Ed_xmlVersion());
    Ed_PacketVersion->setText(m_workspace.Ed_PacketVersion());
    Ed_LCID->setText(m_workspace.Ed_LCID());
}

void TDataPage::refreshFields()
{
    m_refreshing = true;
    const int row = std::max(0, SG_Field->currentIndex().row());
    m_fieldModel->refresh();
    const int rows = m_fieldModel->rowCount();
    if (rows > 0) {
        SG_Field->setCurrentIndex(m_fieldModel->index(std::min(row, rows - 1), 0));
    }
    CB_FieldType->setTypeList(m_workspace.typeList());
    m_refreshing = false;
    applyFieldColumnWidths();
}

void TDataPage::refreshData()
{
    m_refreshing = true;
    const QModelIndex current = SG_Data->currentIndex();
    const int row = std::max(0, current.row());
    const int column = std::max(0, current.column());
    m_dataModel->refresh();
    applyDataColumnWidths();
    const int rows = m_dataModel->rowCount();
    const int columns = m_dataModel->columnCount();
    if (rows > 0 && columns > 0) {
        SG_Data->setCurrentIndex(m_dataModel->index(std::min(row, rows - 1), std::min(column, columns - 1)));
    }
    m_refreshing = false;
    SG_Data->showEditor();
}

void TDataPage::refreshKeyLists()
{
    m_refreshing = true;
    const auto fill = [this](QListWidget* list, const TKeyList& keys, QPushButton* button) {
        QStringList current;
        for (int i = 0; i < list->count(); ++i) {
            current.append(list->item(i)->text());
        }
        if (current != keys.items()) {
            list->clear();
            list->addItems(keys.items());
        }
        for (int i = 0; i < list->count(); ++i) {
            list->item(i)->setSelected(keys.isSelected(i));
        }
        list->setGeometry(list->x(), list->y(), list->width(), keyListHeight(keys));
        list->setVisible(keys.isShown());
        list->raise();
        button->setText(keys.caption());
    };
    fill(LB_DefOrder, m_workspace.LB_DefOrder(), B_DefOrder);
    fill(LB_PriKey, m_workspace.LB_PriKey(), B_PriKey);
    m_refreshing = false;
}

void TDataPage::keySelectionChanged(QListWidget* list, TKeyKind keys)
{
    if (m_refreshing) {
        return;
    }
    for (int i = 0; i < list->count(); ++i) {
        m_workspace.setKeySelected(keys, i, list->item(i)->isSelected());
    }
    m_workspace.markDataEdited();
    if (keys == TKeyKind::PrimaryKey) {
        m_dataModel->recheckValues();
    }
    emit edited();
}

// --- Values that do not fit their fields ---------------------------------------------------------------

void TDataPage::showValueProblemCount(int cells)
{
    // In the caption, which takes no room from the fixed layout.
    GBox_Data->setTitle(cells == 0
                            ? QStringLiteral("データ")
                            : QStringLiteral("データ（型に合わない値 %1 か所: F8 / Shift+F8 で移動）").arg(cells));
    // Marks found afresh may have come or gone anywhere on screen.
    SG_Data->viewport()->update();
}

void TDataPage::moveToValueProblem(bool forward)
{
    m_dataModel->settleValueMarks();
    const QModelIndex current = SG_Data->currentIndex();
    const auto [col, row] = m_dataModel->valueMarks().next(current.isValid() ? current.column() : -1,
                                                           current.isValid() ? gridRowOf(current) : 0, forward);
    if (col < 0) {
        return;
    }
    SG_Data->setCurrentIndex(m_dataModel->index(viewRowOf(row), col));
    SG_Data->scrollTo(SG_Data->currentIndex());
    SG_Data->showEditor();
}

const std::vector<TValueProblem>& TDataPage::valueProblems() const
{
    m_dataModel->settleValueMarks();
    return m_dataModel->valueMarks().problems();
}

// --- Field definitions ---------------------------------------------------------------------------------

void TDataPage::B_FieldAddClick()
{
    // Fields added or changed here refill the key lists under the undo commands: those are forgotten.
    m_editing->clearUndo();
    m_errors.run([this] {
        m_workspace.B_FieldAddClick(Ed_FieldName->text(), CB_FieldType->chosenText(), Ed_FieldEtc->text(),
                                    SE_FieldWidth->text(), m_dialogs);
    });
    // A failed width conversion leaves the field added: the views show what was done.
    refreshFieldViews();
    emit edited();
}

void TDataPage::B_FieldSetClick()
{
    const int selectedRow = SG_Field->currentIndex().isValid() ? gridRowOf(SG_Field->currentIndex()) : 1;
    m_editing->clearUndo();
    m_errors.run([this, selectedRow] {
        m_workspace.B_FieldSetClick(selectedRow, Ed_FieldName->text(), CB_FieldType->chosenText(), Ed_FieldEtc->text(),
                                    SE_FieldWidth->text(), m_dialogs);
    });
    refreshFieldViews();
    emit edited();
}

void TDataPage::SG_FieldClick()
{
    m_errors.run([this] {
        const QModelIndex current = SG_Field->currentIndex();
        if (!current.isValid()) {
            return;
        }
        const TFieldEditorContent content = m_workspace.SG_FieldClick(gridRowOf(current));
        Ed_FieldName->setText(content.name);
        if (content.typeIndex) {
            CB_FieldType->choose(*content.typeIndex);
        }
        Ed_FieldEtc->setText(content.etc);
        SE_FieldWidth->setText(content.width);
    });
}

void TDataPage::CB_FieldTypeKeyDown(int key)
{
    m_errors.run([this, key] {
        const std::optional<int> added = m_workspace.CB_FieldTypeKeyDown(key, CB_FieldType->currentText(), m_dialogs);
        CB_FieldType->setTypeList(m_workspace.typeList());
        if (added) {
            CB_FieldType->choose(*added);
        }
    });
}

// --- Key lists -----------------------------------------------------------------------------------------

void TDataPage::B_PriKeyClick()
{
    m_errors.run([this] {
        const int itemHeight = LB_PriKey->count() > 0 ? LB_PriKey->sizeHintForRow(0) : 0;
        m_workspace.B_PriKeyClick(itemHeight, m_dialogs);
    });
    refreshKeyLists();
    emit edited();
}

void TDataPage::B_DefOrderClick()
{
    m_errors.run([this] {
        const int itemHeight = LB_DefOrder->count() > 0 ? LB_DefOrder->sizeHintForRow(0) : 0;
        m_workspace.B_DefOrderClick(itemHeight, m_dialogs);
    });
    refreshKeyLists();
    emit edited();
}

// --- Data rows -----------------------------------------------------------------------------------------

void TDataPage::B_DataAddClick()
{
    bool added = false;
    m_errors.run([this, &added] { added = m_workspace.B_DataAddClick(); });
    if (added) {
        refreshData();
        m_editing->rowAdded();
    }
    emit edited();
}

void TDataPage::SG_DataKeyDown(int key)
{
    m_errors.run([this, key] {
        const QModelIndex current = SG_Data->currentIndex();
        if (!current.isValid()) {
            return;
        }
        const int workspaceKey = (key == Qt::Key_Return || key == Qt::Key_Enter) ? VK_RETURN : key;
        const int row = m_workspace.SG_DataKeyDown(workspaceKey, gridRowOf(current));
        if (row != gridRowOf(current)) {
            SG_Data->setCurrentIndex(m_dataModel->index(viewRowOf(row), current.column()));
        }
    });
}

void TDataPage::dataColumnMoved(int from, int to)
{
    // The workspace's column order is the truth: put the header back in its natural order and move the
    // column there, one undoable step, so that cells, header and width go together.
    QHeaderView* header = SG_Data->horizontalHeader();
    {
        const QSignalBlocker blocker(header);
        header->moveSection(to, from);
    }
    m_errors.run([this, from, to] { m_editing->moveDataColumn(from, to); });
}

// --- Splitter ------------------------------------------------------------------------------------------

void TDataPage::splitterReleased(int newSize)
{
    const bool changed = newSize != m_fieldGroupHeight;
    m_fieldGroupHeight = newSize;
    placeControls();
    Splitter1Moved();
    if (changed) {
        Splitter1Moved();
    }
}

void TDataPage::Splitter1Moved()
{
    m_errors.run([this] { fitFieldColumns(); });
}

} // namespace torvane
