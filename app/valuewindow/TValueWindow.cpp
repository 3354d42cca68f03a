#include "valuewindow/TValueWindow.h"

#include "TAtomicFile.h"
#include "TFileBytes.h"
#include "TPacketFile.h"
#include "commands/TGridRows.h"
#include "textview/TTextView.h"

#include <QAbstractTableModel>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

namespace torvane {

// The hex view's lines, built only for the rows on screen: a dump of megabytes shows at once.
class THexModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    void setBytes(QByteArray bytes)
    {
        beginResetModel();
        m_bytes = std::move(bytes);
        endResetModel();
    }
    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : static_cast<int>(hexDumpLineCount(m_bytes.size()));
    }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 1; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid()) {
            return {};
        }
        return hexDumpLine(m_bytes, qsizetype(index.row()) * HexBytesPerLine);
    }

private:
    QByteArray m_bytes;
};

namespace {

const QString AllFilesFilter = QStringLiteral("総て (*)");
// Wrapping lays out a text whole as it is set: a megabyte of text takes a noticeable moment, ten take seconds.
constexpr qsizetype LongTextLength = 1'000'000;
enum Tab { TextTab, ImageTab, HexTab };

} // namespace

TValueWindow::TValueWindow(TValueCell cell, QAbstractItemModel* table, TWindowDialogs& dialogs,
                           const TErrorHandler& errors, QWidget* parent)
    : QWidget(parent, Qt::Window), m_cell(cell), m_table(table), m_dialogs(dialogs), m_errors(errors)
{
    setObjectName(QStringLiteral("ValueWindow"));
    resize(640, 480);
    const QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("ValueStatus"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_text = new QPlainTextEdit(this);
    m_text->setObjectName(QStringLiteral("ValueText"));
    m_text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_longText = new TTextView(this);
    m_longText->setObjectName(QStringLiteral("ValueLongText"));
    m_longText->installEventFilter(this);
    m_textPages = new QStackedWidget(this);
    m_textPages->addWidget(m_text);
    m_textPages->addWidget(m_longText);
    m_image = new QLabel;
    m_image->setObjectName(QStringLiteral("ValueImage"));
    m_image->setAlignment(Qt::AlignCenter);
    m_imageArea = new QScrollArea(this);
    m_imageArea->setWidget(m_image);
    m_imageArea->setWidgetResizable(true);
    m_hexModel = new THexModel(this);
    m_hex = new QTableView(this);
    m_hex->setObjectName(QStringLiteral("ValueHex"));
    m_hex->setModel(m_hexModel);
    m_hex->setFont(fixed);
    m_hex->horizontalHeader()->hide();
    m_hex->horizontalHeader()->setStretchLastSection(true);
    m_hex->verticalHeader()->hide();
    m_hex->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_hex->verticalHeader()->setDefaultSectionSize(QFontMetrics(fixed).height() + 2);
    m_hex->setShowGrid(false);
    m_hex->setWordWrap(false);
    m_hex->setEditTriggers(QAbstractItemView::NoEditTriggers);

    m_views = new QTabWidget(this);
    m_views->setObjectName(QStringLiteral("ValueViews"));
    m_views->addTab(m_textPages, QStringLiteral("テキスト"));
    m_views->addTab(m_imageArea, QStringLiteral("画像"));
    m_views->addTab(m_hex, QStringLiteral("16進"));

    m_import = new QPushButton(QStringLiteral("読み込み…"), this);
    m_import->setObjectName(QStringLiteral("ValueImport"));
    m_export = new QPushButton(QStringLiteral("書き出し…"), this);
    m_export->setObjectName(QStringLiteral("ValueExport"));
    m_apply = new QPushButton(QStringLiteral("適用"), this);
    m_apply->setObjectName(QStringLiteral("ValueApply"));
    m_apply->setToolTip(QStringLiteral("テキストの変更をセルに書き込みます (Ctrl+Enter)"));
    auto* close = new QPushButton(QStringLiteral("閉じる"), this);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_import);
    buttons->addWidget(m_export);
    buttons->addStretch();
    buttons->addWidget(m_apply);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_status);
    layout->addWidget(m_views, 1);
    layout->addLayout(buttons);

    connect(m_import, &QPushButton::clicked, this, [this] { m_errors.run([this] { importFile(); }); });
    connect(m_export, &QPushButton::clicked, this, [this] { m_errors.run([this] { exportFile(); }); });
    connect(m_apply, &QPushButton::clicked, this, [this] { m_errors.run([this] { applyText(); }); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);
    for (const QKeySequence& key : {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}) {
        connect(new QShortcut(key, this), &QShortcut::activated, this,
                [this] { m_errors.run([this] { applyText(); }); });
    }
    connect(m_text, &QPlainTextEdit::modificationChanged, m_apply, &QWidget::setEnabled);
    connect(m_longText, &TTextView::modificationChanged, m_apply, &QWidget::setEnabled);
    // The text is put into its view when that view is first shown: a large picture or byte run opens
    // without laying out megabytes of text no one looks at.
    connect(m_views, &QTabWidget::currentChanged, this, [this](int tab) {
        if (tab == TextTab) {
            loadText();
        }
    });
    connect(m_table, &QAbstractItemModel::dataChanged, this, &TValueWindow::tableChanged);
    connect(m_table, &QAbstractItemModel::modelReset, this, [this] {
        if (isVisible()) {
            reload();
        }
    });
}

TValueWindow::~TValueWindow() = default;

void TValueWindow::showCell(int col, int row)
{
    if ((col != m_col || row != m_row || m_recordGone) && !settleEdits()) {
        return;
    }
    m_col = col;
    m_row = row;
    m_recordGone = false;
    m_text->setReadOnly(false);
    reload();
}

void TValueWindow::followRows(int first, int removed, int inserted)
{
    if (m_row < first) {
        return;
    }
    if (m_row >= first + removed) {
        m_row += inserted - removed;
        return;
    }
    // The record went: the reload that follows keeps what was typed into it, if anything was.
    m_row = -1;
}

void TValueWindow::followColumn(int from, int to)
{
    if (m_col < 0) {
        return;
    }
    if (m_col == from) {
        m_col = to;
    } else if (from < to && m_col > from && m_col <= to) {
        --m_col;
    } else if (from > to && m_col >= to && m_col < from) {
        ++m_col;
    }
}

void TValueWindow::reload()
{
    // A cell that went while text typed into it was not applied (rows removed by an undo, say) leaves the text.
    m_recordGone = m_recordGone || (m_textLoaded && textModified() && !m_cell.exists(m_col, m_row));
    if (m_recordGone) {
        // What was typed stays readable, and can be copied, until the window is closed.
        setWindowTitle(QStringLiteral("削除されたレコード - Torvane"));
        m_status->setText(QStringLiteral("このレコードは削除されました。適用していないテキストは残っていますが、"
                                         "セルには適用できません（閉じると確認します）。"));
        m_text->setReadOnly(true);
        m_apply->setEnabled(false);
        m_import->setEnabled(false);
        m_export->setEnabled(false);
        return;
    }
    if (m_textLoaded && textModified() && m_cell.exists(m_col, m_row) && m_cell.value(m_col, m_row) == m_value.text()) {
        // The record moved and its value did not change: what was typed stays; the title says where it is now.
        showTitle();
        return;
    }
    if (!m_cell.exists(m_col, m_row)) {
        // The cell went (rows deleted, another packet read): nothing is left to show.
        m_value = TCellValue();
        m_col = m_row = -1;
        hide();
        return;
    }
    m_value = TCellValue(m_cell.value(m_col, m_row), m_cell.field(m_col));
    showValue();
}

void TValueWindow::showTitle()
{
    setWindowTitle(QStringLiteral("%1 行目の %2 - Torvane").arg(m_row).arg(m_cell.fieldName(m_col)));
}

void TValueWindow::showValue()
{
    showTitle();
    m_import->setEnabled(true);
    QString status = m_value.statusText();
    if (m_cell.value(m_col, m_row).isEmpty()) {
        // The two empty values the packet tells apart.
        status += m_cell.isEmptyString(m_col, m_row) ? QStringLiteral("（空文字列）") : QStringLiteral("（値なし）");
    }
    m_status->setText(status);
    m_textLoaded = false;
    m_text->clear();
    m_longText->setPlainText(QString());
    const QImage image = m_value.image();
    m_image->setPixmap(QPixmap::fromImage(image));
    m_views->setTabEnabled(ImageTab, !image.isNull());
    m_hexModel->setBytes(m_value.bytes());
    m_apply->setEnabled(false);
    m_export->setEnabled(true);
    const TValueView view = m_value.preferredView();
    setView(view);
    if (view == TValueView::Text) {
        loadText();
    }
}

void TValueWindow::loadText()
{
    if (m_textLoaded) {
        return;
    }
    m_textLoaded = true;
    QString text = m_value.displayText();
    if (text.size() > LongTextLength) {
        const QSignalBlocker blocker(m_longText);
        m_longText->setPlainText(std::move(text));
        m_textPages->setCurrentWidget(m_longText);
    } else {
        const QSignalBlocker blocker(m_text);
        m_text->setPlainText(text);
        m_text->setReadOnly(!m_value.isTextEditable());
        m_text->document()->setModified(false);
        m_textPages->setCurrentWidget(m_text);
    }
    m_apply->setEnabled(false);
}

bool TValueWindow::textModified() const
{
    if (!m_textLoaded) {
        return false;
    }
    return m_textPages->currentWidget() == m_longText ? m_longText->isModified() : m_text->document()->isModified();
}

void TValueWindow::setTextUnmodified()
{
    m_longText->setModified(false);
    m_text->document()->setModified(false);
}

TValueView TValueWindow::currentView() const
{
    switch (m_views->currentIndex()) {
    case ImageTab:
        return TValueView::Image;
    case HexTab:
        return TValueView::Hex;
    default:
        return TValueView::Text;
    }
}

void TValueWindow::setView(TValueView view)
{
    m_views->setCurrentIndex(view == TValueView::Image ? ImageTab : view == TValueView::Hex ? HexTab : TextTab);
}

void TValueWindow::applyText()
{
    if (!textModified() || !m_cell.exists(m_col, m_row)) {
        return;
    }
    if (!m_value.isTextEditable()) {
        throw TFailure(
            QStringLiteral("この値のバイト列は文字列として読むと元に戻らないため、テキストの変更は適用できません"));
    }
    const QString edited =
        m_textPages->currentWidget() == m_longText ? m_longText->toPlainText() : m_text->toPlainText();
    const QString value = m_value.valueForText(edited);
    setTextUnmodified();
    m_cell.write(m_col, m_row, value, QStringLiteral("値を編集"));
}

void TValueWindow::importFile()
{
    if (!m_cell.exists(m_col, m_row)) {
        return;
    }
    const std::optional<QString> name = m_dialogs.openFileNameWithFilter(m_lastFile, AllFilesFilter);
    if (!name) {
        return;
    }
    m_lastFile = *name;
    const QString value = m_value.valueForFile(readRegularFile(*name));
    m_cell.write(m_col, m_row, value, QStringLiteral("値を読み込む"));
}

void TValueWindow::exportFile()
{
    if (!m_cell.exists(m_col, m_row)) {
        return;
    }
    QString suggested = m_lastFile;
    if (suggested.isEmpty()) {
        const QString extension = m_value.imageInfo().isImage()
                                      ? QString::fromLatin1(m_value.imageInfo().format).toLower()
                                  : m_value.isBinary() ? QStringLiteral("bin")
                                                       : QStringLiteral("txt");
        suggested = QStringLiteral("%1_%2.%3").arg(m_cell.fieldName(m_col)).arg(m_row).arg(extension);
    }
    const std::optional<QString> name = askSaveFileName(m_dialogs, suggested, AllFilesFilter);
    if (!name) {
        return;
    }
    m_lastFile = *name;
    writeFileAtomically(*name, m_value.fileBytes());
}

bool TValueWindow::settleEdits()
{
    if (m_recordGone) {
        if (!m_dialogs.confirm(QStringLiteral("値の窓のレコードは削除されました。適用していないテキストを捨てますか？"))) {
            return false;
        }
        m_recordGone = false;
        m_text->setReadOnly(false);
        setTextUnmodified();
        return true;
    }
    if (!textModified() || !m_cell.exists(m_col, m_row)) {
        return true;
    }
    if (m_dialogs.confirm(QStringLiteral("テキストの変更をセルに適用しますか？"))) {
        bool applied = false;
        m_errors.run([this, &applied] {
            applyText();
            applied = true;
        });
        return applied;
    }
    setTextUnmodified();
    return true;
}

void TValueWindow::closeEvent(QCloseEvent* event)
{
    if (settleEdits()) {
        event->accept();
    } else {
        event->ignore();
    }
}

bool TValueWindow::eventFilter(QObject* watched, QEvent* event)
{
    // The long text view takes Ctrl+Enter as a line break; here it applies the text, as in the wrapped view.
    // Left unaccepted, the override lets the window's shortcut have the key.
    if (watched == m_longText && event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() == Qt::ControlModifier && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TValueWindow::tableChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight)
{
    if (isVisible() && viewRowOf(m_row) >= topLeft.row() && viewRowOf(m_row) <= bottomRight.row() &&
        m_col >= topLeft.column() && m_col <= bottomRight.column()) {
        reload();
    }
}

} // namespace torvane
