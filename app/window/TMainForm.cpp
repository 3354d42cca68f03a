#include "window/TMainForm.h"

#include "TFailure.h"
#include "TMemoryProbe.h"
#include "TPacketFile.h"
#include "TPacketReader.h"
#include "TPacketWriter.h"
#include "TValueRules.h"
#include "TXmlCheck.h"
#include "datapage/TDataEditing.h"
#include "datapage/TDataPage.h"
#include "datapage/TValueMarks.h"
#include "dialogs/TLimitedDialogs.h"
#include "valuewindow/TValueWindow.h"
#include "window/TManualPage.h"
#include "xmlpage/TXmlPage.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QIcon>
#include <QKeySequence>
#include <QLayout>
#include <QMimeData>
#include <QResizeEvent>
#include <QShortcut>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <climits>

namespace torvane {

namespace {

// The reading of a text for its values' check alone: what it would tell was told when the text was shown.
class TSilentDialogs : public TDialogs {
public:
    void inform(const QString&) override {}
    bool confirm(const QString&) override { return false; }
};

// The window's font. Linux desktops have no "ＭＳ Ｐゴシック"; the substitution table names the Japanese
// gothic faces found there instead. A single family name (rather than a family list) survives the font
// resolution that style sheets do, so every control really gets it.
QFont windowFont()
{
    const QString family = QStringLiteral("ＭＳ Ｐゴシック");
    QFont::insertSubstitutions(family, {QStringLiteral("MS PGothic"), QStringLiteral("IPAPGothic"),
                                        QStringLiteral("Noto Sans CJK JP"), QStringLiteral("IPAGothic")});
    QFont font(family);
    font.setPixelSize(13);
    return font;
}

// "xmlファイル|*.xml|総て|*.*" in the file dialog's own notation.
const QString SaveFilter = QStringLiteral("xmlファイル (*.xml);;総て (*)");

// The first local file a drag carries; empty for anything else (text, remote addresses).
QString droppedFile(const QMimeData* mime)
{
    if (!mime || !mime->hasUrls()) {
        return {};
    }
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile()) {
            return url.toLocalFile();
        }
    }
    return {};
}

} // namespace

TMainForm::TMainForm(TWindowDialogs& dialogs, QWidget* parent)
    : QMainWindow(parent), m_dialogs(dialogs), m_errors(dialogs)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Torvane"));
    setWindowIcon(applicationIcon());
    setFont(windowFont());
    m_errors.run([this] { FormCreate(); });

    createPages();
    connect(&m_document, &TDocument::changed, this, &TMainForm::updateTitle);
    updateTitle();
    createShortcuts();

    // One filter watches the page control's resizes and the drags over every control of the window, cell
    // editors that come and go included: files dropped anywhere on the window load.
    setAcceptDrops(true);
    qApp->installEventFilter(this);

    move(DesignLeft, DesignTop);
    resize(DesignWidth, DesignHeight);
}

void TMainForm::createPages()
{
    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    TabSheet1 = new TDataPage(m_workspace, m_dialogs, m_errors, PageControl1);
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    TabSheet2 = new TXmlPage(m_workspace, m_errors, PageControl1);
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    TabSheet3 = new TManualPage(PageControl1);
    TabSheet3->setObjectName(QStringLiteral("TabSheet3"));
    PageControl1->addTab(TabSheet1, QStringLiteral("データ"));
    PageControl1->addTab(TabSheet2, QStringLiteral("XML"));
    PageControl1->addTab(TabSheet3, QStringLiteral("説明書"));
    PageControl1->setCurrentIndex(0);
    setCentralWidget(PageControl1);
    connect(PageControl1, &QTabWidget::currentChanged, this, &TMainForm::pageChanged);
    connect(TabSheet2, &TXmlPage::loadClicked, this, &TMainForm::B_XmlLoadClick);
    connect(TabSheet2, &TXmlPage::saveClicked, this, &TMainForm::B_XmlSaveClick);
    // Buttons and edits say the work may have changed; the document compares it with the saved work.
    m_document.track(TabSheet1->editing()->undoStack(), [this] { return workState(); });
    connect(TabSheet1, &TDataPage::edited, &m_document, &TDocument::update);
    connect(TabSheet1->editing(), &TDataEditing::undoAboutToClear, &m_document, &TDocument::keepUnsavedSteps);
    connect(TabSheet2, &TXmlPage::edited, this, [this] { m_document.setTextEdited(TabSheet2->isTextEdited()); });
}

void TMainForm::createShortcuts()
{
    // Ctrl+Tab switches pages from anywhere in the window, the data table's cell editor included, which
    // would otherwise take the Tab for itself.
    auto* next = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this);
    connect(next, &QShortcut::activated, this, [this] { switchPage(1); });
    for (const QKeySequence& sequence :
         {QKeySequence(Qt::CTRL | Qt::Key_Backtab), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab)}) {
        auto* previous = new QShortcut(sequence, this);
        connect(previous, &QShortcut::activated, this, [this] { switchPage(-1); });
    }
    const auto add = [this](const QKeySequence& sequence, auto&& slot) {
        connect(new QShortcut(sequence, this), &QShortcut::activated, this, slot);
    };
    add(QKeySequence(Qt::CTRL | Qt::Key_S), [this] { saveDocument(); });
    add(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S), [this] { saveDocumentAs(); });
    add(QKeySequence(Qt::CTRL | Qt::Key_O), [this] { openDocument(); });
    add(QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { close(); });
    add(QKeySequence(Qt::CTRL | Qt::Key_W), [this] { close(); });
    add(QKeySequence(Qt::CTRL | Qt::Key_N), [this] { newWorkspace(); });
    add(QKeySequence(Qt::Key_F1), [this] { PageControl1->setCurrentIndex(2); });
}

QStringList TMainForm::workState() const
{
    // Everything the packet holds that the undo stack does not: the settings, the field definitions and
    // the key selections. The rows are the undo stack's.
    QStringList state{m_workspace.Ed_xmlVersion(), m_workspace.Ed_PacketVersion(), m_workspace.Ed_LCID()};
    const int fields = m_workspace.FieldCount();
    for (int r = 1; r <= fields; ++r) {
        for (int c = FieldNameColumn; c <= FieldWidthColumn; ++c) {
            state.append(m_workspace.SG_Field().cell(c, r));
        }
    }
    for (const TKeyList* keys : {&m_workspace.LB_PriKey(), &m_workspace.LB_DefOrder()}) {
        QString selected;
        for (int i = 0; i < keys->items().size(); ++i) {
            selected.append(keys->isSelected(i) ? u'1' : u'0');
        }
        state.append(selected);
    }
    return state;
}

void TMainForm::updateTitle()
{
    setWindowTitle(m_document.windowTitle());
    setWindowModified(m_document.isModified());
}

QIcon TMainForm::applicationIcon()
{
    // The images installed into the desktop's icon theme, built into the program so that the window shows
    // its icon wherever the program runs from.
    QIcon icon;
    for (const int size : {48, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/torvane-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

TMainForm::~TMainForm()
{
    // The pages read the workspace until they are gone, and the workspace is a member, destroyed before the
    // base class deletes the children.
    delete PageControl1;
}

void TMainForm::FormCreate()
{
    // The field list is part of the workspace and exists with it, as long as the window does; creating the
    // window starts it empty.
    m_workspace.ResetWorkspace();
}

void TMainForm::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_firstShow) {
        m_firstShow = false;
        fitDesignSizeToFrame();
        // A window manager tells the frame's size only after it has framed the window, some time after the
        // window was shown: look again when it moves the window (below) and, failing that, a little later.
        for (const int ms : {100, 300, 1000}) {
            QTimer::singleShot(ms, this, &TMainForm::fitDesignSizeToFrame);
        }
    }
}

void TMainForm::moveEvent(QMoveEvent* event)
{
    QMainWindow::moveEvent(event);
    if (!m_firstShow) {
        fitDesignSizeToFrame();
    }
}

void TMainForm::fitDesignSizeToFrame()
{
    // The design size is the outer size. Done once, as soon as there is a frame; without a window manager
    // there is none and the client size is the outer size already.
    if (m_frameFitted) {
        return;
    }
    const QSize extra = frameGeometry().size() - size();
    if (extra.width() > 0 || extra.height() > 0) {
        m_frameFitted = true;
        resize(DesignWidth - extra.width(), DesignHeight - extra.height());
    }
}

void TMainForm::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    m_errors.run([this] { FormResize(); });
}

void TMainForm::FormResize()
{
    // The limits hold for the outer frame; the difference to the client size is the window manager's.
    const QSize frame = frameGeometry().size();
    const int extraWidth = frame.width() - width();
    const int extraHeight = frame.height() - height();
    if (frame.width() < MinWidth) {
        resize(MinWidth - extraWidth, height());
    }
    if (frameGeometry().height() < MinHeight) {
        resize(width(), MinHeight - extraHeight);
    }
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::Resize:
        if (watched == PageControl1) {
            m_errors.run([this] { PageControl1Resize(); });
        }
        break;
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        if (watched->isWidgetType() && handleDrop(static_cast<QWidget*>(watched), event)) {
            return true;
        }
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TMainForm::handleDrop(QWidget* target, QEvent* event)
{
    if (target->window() != this) {
        return false;
    }
    auto* drop = static_cast<QDropEvent*>(event);
    const QString file = droppedFile(drop->mimeData());
    if (file.isEmpty()) {
        // Text is for the XML view alone; dropped anywhere else it would slip into a name or a value.
        if (TabSheet2->holdsView(target)) {
            return false;
        }
        drop->ignore();
        return true;
    }
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (event->type() == QEvent::Drop) {
        // The question and the boxes of the load must not run inside the drag and drop protocol.
        QTimer::singleShot(0, this, [this, file] { openFile(file); });
    }
    return true;
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    if (maybeSave()) {
        event->accept();
    } else {
        event->ignore();
    }
}

void TMainForm::PageControl1Resize()
{
    TabSheet1->fitFieldColumns();
}

void TMainForm::pageChanged(int index)
{
    if (index == 0) {
        TabSheet1Show();
    } else if (index == 1) {
        TabSheet2Show();
    }
}

void TMainForm::switchPage(int step)
{
    const int count = PageControl1->count();
    PageControl1->setCurrentIndex((PageControl1->currentIndex() + step + count) % count);
}

void TMainForm::TabSheet1Show()
{
    const bool reads = m_workspace.needsRead();
    const bool wasModified = m_document.isModified();
    // The view's text is fetched only when it is going to be read: turning a large view into text costs.
    m_errors.run([this] {
        // The reader gives a message per refused field; a packet may have thousands.
        TLimitedDialogs dialogs(m_dialogs);
        try {
            torvane::readTextIntoWorkspace(
                m_workspace, [this] { return TabSheet2->crLfText(); }, dialogs);
        } catch (...) {
            dialogs.finish();
            throw;
        }
        dialogs.finish();
    });
    if (reads) {
        // Whatever the reader got through before a failure is shown too. The commands on the undo stack
        // belonged to the workspace the reader replaced.
        TabSheet1->refreshAll();
        TabSheet1->fitDataColumnsToValues(0, INT_MAX);
        TabSheet1->editing()->clearUndo();
        TabSheet2->textRead();
        m_document.workRead(wasModified);
        // The rows of the workspace the reader replaced.
        returnFreedMemory();
        // A file's text that holds no packet left the workspace as it was: without a word the user would take
        // it for the file's content, and Ctrl+S would replace the file with a packet.
        if (m_viewHoldsFileText && !wasModified && !m_workspace.foundPacket()) {
            m_fileNotPacket = true;
            m_dialogs.inform(
                QStringLiteral("ファイル「%1」はデータパケットではありません（DATAPACKET 要素がありません）。"
                               "テキストは XML ページに表示しています")
                    .arg(QFileInfo(m_document.fileName()).fileName()));
        }
    }
}

bool TMainForm::TabSheet2Show()
{
    if (!m_workspace.needsWrite()) {
        return true;
    }
    // From here the file's text is no longer shown; a save of unchanged work reads the file again.
    m_viewHoldsFileText = false;
    bool written = false;
    m_errors.run([this, &written] {
        // The packet is written over the old text's memory: at a million rows that is hundreds of megabytes
        // the window does not take a second time. Should the writer fail, the view shows no text and the
        // work stays to be written (the data page still holds it).
        if (std::optional<QString> text = torvane::writeWorkspaceAsText(m_workspace, TabSheet2->takeText())) {
            TabSheet2->showPacket(std::move(*text));
        }
        written = true;
    });
    return written;
}

// --- Files -----------------------------------------------------------------------------------------------

void TMainForm::B_XmlLoadClick()
{
    loadWithDialog();
}

void TMainForm::B_XmlSaveClick()
{
    save(TSaveKind::AskNameAsShown);
}

bool TMainForm::saveDocument()
{
    return save(TSaveKind::CurrentFile);
}

bool TMainForm::saveDocumentAs()
{
    return save(TSaveKind::AskName);
}

void TMainForm::openDocument()
{
    const bool fromXmlPage = PageControl1->currentIndex() == 1;
    if (loadWithDialog() && !fromXmlPage) {
        showDataPage();
    }
}

bool TMainForm::newWorkspace()
{
    if (!maybeSave()) {
        return false;
    }
    // The workspace the program starts with, shown by pages made afresh over it: the pages' own state (undo
    // history, open key lists, editor contents, the find bar) is part of the old work too. The old pages go
    // first, while the workspace they show still exists.
    delete PageControl1;
    m_workspace = TWorkspace();
    returnFreedMemory();
    m_errors.run([this] { FormCreate(); });
    createPages();
    // Shown and laid out at once rather than when the event loop comes round: the keys that follow find the
    // new pages ready, the focus in the data table's first cell.
    PageControl1->show();
    layout()->activate();
    // The save dialog starts in the old file's folder, but never offers the old name: a new workspace saved
    // over it would lose that file.
    if (!m_document.fileName().isEmpty()) {
        m_saveName = QFileInfo(m_document.fileName()).absolutePath() + u'/';
    }
    // No file, nothing unsaved.
    m_viewHoldsFileText = false;
    m_fileNotPacket = false;
    m_document.savedOrLoaded(QString(), TFileStamp());
    return true;
}

bool TMainForm::openFile(const QString& fileName)
{
    if (!maybeSave() || !loadFile(fileName)) {
        return false;
    }
    showDataPage();
    return true;
}

bool TMainForm::save(TSaveKind kind)
{
    // Work that did not change is saved as the file's text: a button that refused or changed nothing marks
    // the workspace to be written again, and the writer's text would differ from the file in its layout,
    // comments, references and change log.
    std::optional<QString> fileText;
    if (kind != TSaveKind::AskNameAsShown && !m_document.isModified() && !m_document.fileName().isEmpty()) {
        m_errors.run([this, &fileText] { fileText = unchangedFileText(); });
    }
    if (kind != TSaveKind::AskNameAsShown && !fileText) {
        // What is saved is what the XML page would show: typed values must not be missing from the file,
        // and a packet that could not be written is not saved at all. A view that never held a packet (a
        // new workspace) gets the writer's, the empty packet for an empty workspace.
        if (TabSheet2->crLfText().isEmpty() && !m_workspace.NeedsRebuild()) {
            m_workspace.markRebuildDue();
        }
        if (!TabSheet2Show()) {
            return false;
        }
    }
    // The file's own text is no worse for other programs than the file is: the questions are for new text.
    const QString text = fileText ? *fileText : TabSheet2->crLfText();
    if (!fileText && (!confirmWellFormed(text) || !confirmValues())) {
        return false;
    }
    bool saved = false;
    m_errors.run([this, kind, &saved, &text, &fileText] {
        QString name = m_document.fileName();
        if (kind != TSaveKind::CurrentFile || name.isEmpty()) {
            const std::optional<QString> chosen =
                askSaveFileName(m_dialogs, name.isEmpty() ? m_saveName : name, SaveFilter);
            if (!chosen) {
                return;
            }
            m_saveName = *chosen;
            name = *chosen;
        } else if (!mayOverwrite(name) || (!fileText && m_fileNotPacket && !m_dialogs.confirmReplaceNotPacket(name))) {
            return;
        }
        // In the encoding the text declares, else the one the file was loaded in (a new packet: CP932).
        const TTextEncoding written = savePacketFile(name, text, m_document.encoding());
        // The file holds the view's text now; the file's own text saved again is still no packet.
        if (!fileText) {
            m_viewHoldsFileText = true;
            m_fileNotPacket = false;
        }
        m_document.savedOrLoaded(name, fileStampOf(name), written);
        saved = true;
    });
    return saved;
}

std::optional<QString> TMainForm::unchangedFileText()
{
    if (m_viewHoldsFileText) {
        return TabSheet2->crLfText();
    }
    const TFileStamp stamp = m_document.fileStamp();
    if (!stamp.isValid() || fileStampOf(m_document.fileName()) != stamp) {
        return std::nullopt;
    }
    return loadPacketFile(m_document.fileName());
}

bool TMainForm::confirmWellFormed(const QString& text)
{
    // The field editor takes names that XML does not, and the XML page takes any edit; the text is saved as
    // shown, but not without a word when other programs would refuse it.
    const std::optional<TXmlFault> fault = firstXmlFault(text);
    if (!fault) {
        return true;
    }
    return m_dialogs.askSaveNotWellFormed(
        QStringLiteral("このパケットは整形式の XML ではありません。XML を読むプログラムでは読めません。\n\n%1\n\n"
                       "このまま保存しますか？")
            .arg(describeXmlFault(text, *fault)));
}

bool TMainForm::confirmValues()
{
    // The data page found the problems when the table was read or edited. Text edited on the XML page since
    // is what the save writes: it is read apart for its own check.
    std::vector<TValueProblem> problems;
    TWorkspace shown;
    const TWorkspace* ws = &m_workspace;
    if (m_workspace.needsRead()) {
        TSilentDialogs silent;
        shown.ResetWorkspace();
        try {
            readPacket(shown, TabSheet2->crLfText(), silent);
        } catch (const TFailure&) {
            return true;
        }
        problems = checkValues(shown);
        ws = &shown;
    } else {
        problems = TabSheet1->valueProblems();
    }
    if (problems.empty()) {
        return true;
    }
    return m_dialogs.askSaveFaultyValues(
        QStringLiteral("フィールドの型に合わない値があります。このパケットを読み込むアプリケーションでは"
                       "エラーになるかもしれません。\n\n%1\n\nこのまま保存しますか？")
            .arg(valueProblemList(*ws, problems, 5)));
}

bool TMainForm::mayOverwrite(const QString& fileName)
{
    // Another program (or another window) may have written the file since: saving over it unasked would
    // lose its work without a word. A file that is gone (or is no file now) holds nothing to lose; the save
    // itself reports what it cannot write.
    const TFileStamp now = fileStampOf(fileName);
    if (!now.isValid() || !m_document.fileStamp().isValid() || now == m_document.fileStamp()) {
        return true;
    }
    return m_dialogs.confirmOverwriteChanged(fileName, QDateTime::fromMSecsSinceEpoch(now.modified / 1000000));
}

bool TMainForm::maybeSave()
{
    // Text typed in the value window and not yet applied is work too: it goes into its cell (or is dropped,
    // as the user says) before the question below, which then covers it.
    if (TValueWindow* values = TabSheet1->editing()->valueWindow(); values && !values->settleEdits()) {
        return false;
    }
    if (!m_document.isModified()) {
        return true;
    }
    switch (m_dialogs.askSaveChanges(m_document.fileName())) {
    case TSaveAnswer::Save:
        return save(TSaveKind::CurrentFile);
    case TSaveAnswer::Discard:
        return true;
    case TSaveAnswer::Cancel:
        break;
    }
    return false;
}

bool TMainForm::loadWithDialog()
{
    if (!maybeSave()) {
        return false;
    }
    // The dialog starts at the current file, however it was loaded or saved (the command line, a drop).
    const QString initialName =
        m_document.fileName().isEmpty() ? m_openName : QFileInfo(m_document.fileName()).absoluteFilePath();
    std::optional<QString> name;
    m_errors.run([this, &name, &initialName] { name = m_dialogs.openFileName(initialName); });
    if (!name) {
        return false;
    }
    m_openName = *name;
    return loadFile(*name);
}

bool TMainForm::loadFile(const QString& fileName)
{
    bool loaded = false;
    m_errors.run([this, &fileName, &loaded] {
        // The flag goes up before the file is opened, so that a failed open still re-parses the view. Which
        // side is newer changes only with a text that was really loaded: a failed load loses no edit.
        m_workspace.markRebuildDue();
        TFileStamp stamp;
        TDecodedText loadedText = loadPacketText(fileName, &stamp);
        // Bytes the file's encoding cannot read would become U+FFFD, and a save would write those over the
        // file: the user decides, and a refused load changes nothing.
        if (loadedText.faults.count > 0 &&
            !m_dialogs.askLoadUndecodable(
                undecodableMessage(fileName, loadedText) +
                QStringLiteral("\n\n読み込みますか？（読み込まないときは、今の内容はそのままです）"))) {
            return;
        }
        TabSheet2->showLoadedText(std::move(loadedText.text));
        m_viewHoldsFileText = true;
        m_fileNotPacket = false;
        m_workspace.markTextEdited();
        m_document.savedOrLoaded(fileName, stamp, loadedText.encoding);
        loaded = true;
    });
    // The old text, and the file's bytes.
    returnFreedMemory();
    return loaded;
}

void TMainForm::showDataPage()
{
    if (PageControl1->currentIndex() != 0) {
        PageControl1->setCurrentIndex(0);
    } else {
        TabSheet1Show();
    }
}

} // namespace torvane
