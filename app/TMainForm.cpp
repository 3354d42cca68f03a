#include "TMainForm.h"

#include "TDataPage.h"
#include "TLineBreaks.h"
#include "TManualPage.h"
#include "TPacketReader.h"
#include "TPacketWriter.h"
#include "TXmlPage.h"

#include <QKeySequence>
#include <QResizeEvent>
#include <QShortcut>
#include <QTabWidget>

namespace torvane {

namespace {

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

} // namespace

TMainForm::TMainForm(TDialogs& dialogs, QWidget* parent)
    : QMainWindow(parent), m_dialogs(dialogs), m_errors(dialogs)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QStringLiteral("Torvane"));
    setFont(windowFont());
    m_errors.run([this] { FormCreate(); });

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    TabSheet1 = new TDataPage(m_workspace, m_dialogs, m_errors, PageControl1);
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    TabSheet2 = new TXmlPage(m_workspace, m_dialogs, m_errors, PageControl1);
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    TabSheet3 = new TManualPage(PageControl1);
    TabSheet3->setObjectName(QStringLiteral("TabSheet3"));
    PageControl1->addTab(TabSheet1, QStringLiteral("データ"));
    PageControl1->addTab(TabSheet2, QStringLiteral("XML"));
    PageControl1->addTab(TabSheet3, QStringLiteral("説明書"));
    PageControl1->setCurrentIndex(0);
    setCentralWidget(PageControl1);
    PageControl1->installEventFilter(this);
    connect(PageControl1, &QTabWidget::currentChanged, this, &TMainForm::pageChanged);

    // Ctrl+Tab switches pages from anywhere in the window, the data table's cell editor included, which
    // would otherwise take the Tab for itself.
    auto* next = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this);
    connect(next, &QShortcut::activated, this, [this] { switchPage(1); });
    for (const QKeySequence& sequence :
         {QKeySequence(Qt::CTRL | Qt::Key_Backtab), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab)}) {
        auto* previous = new QShortcut(sequence, this);
        connect(previous, &QShortcut::activated, this, [this] { switchPage(-1); });
    }

    move(DesignLeft, DesignTop);
    resize(DesignWidth, DesignHeight);
}

TMainForm::~TMainForm()
{
    m_errors.run([this] { FormDestroy(); });
    // The pages read the workspace until they are gone, and the workspace is a member, destroyed before the
    // base class deletes the children.
    delete PageControl1;
}

void TMainForm::FormCreate()
{
    // The field list is part of the workspace and exists with it; creating the window resets the rest.
    m_workspace.ResetWorkspace();
    m_workspace.FieldList.clear();
}

void TMainForm::FormDestroy()
{
    m_workspace.FieldList.clear();
}

void TMainForm::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_firstShow) {
        m_firstShow = false;
        // The design size is the outer size; the frame is known only once the window is on the screen.
        const QSize extra = frameGeometry().size() - size();
        if (!extra.isEmpty()) {
            resize(DesignWidth - extra.width(), DesignHeight - extra.height());
        }
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
    if (watched == PageControl1 && event->type() == QEvent::Resize) {
        m_errors.run([this] { PageControl1Resize(); });
    }
    return QMainWindow::eventFilter(watched, event);
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
    const bool reads = m_workspace.NeedsRebuild;
    // The view's text is fetched only when it is going to be read: turning a large view into text costs.
    m_errors.run([this] {
        torvane::TabSheet1Show(m_workspace, [this] { return toCrLf(TabSheet2->viewText()); }, m_dialogs);
    });
    if (reads) {
        // Whatever the reader got through before a failure is shown too.
        TabSheet1->refreshAll();
    }
}

void TMainForm::TabSheet2Show()
{
    m_errors.run([this] {
        if (const std::optional<QString> text = torvane::TabSheet2Show(m_workspace)) {
            TabSheet2->showPacket(*text);
        }
    });
}

} // namespace torvane
