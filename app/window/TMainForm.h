#pragma once

#include "TWorkspace.h"
#include "dialogs/TErrorHandler.h"
#include "window/TDocument.h"

#include <QMainWindow>

class QIcon;
class QTabWidget;

namespace torvane {

class TDataPage;
class TManualPage;
class TXmlPage;

// The main window: owns the workspace for the whole run and the three pages that show it. Showing a
// working page rebuilds it from the other one when the workspace asks for it.
class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int DesignLeft = 71;
    static constexpr int DesignTop = 55;
    static constexpr int DesignWidth = 783;
    static constexpr int DesignHeight = 583;
    // The window springs back to these when sized smaller.
    static constexpr int MinWidth = 783;
    static constexpr int MinHeight = 553;

    explicit TMainForm(TWindowDialogs& dialogs, QWidget* parent = nullptr);
    // The program's icon, the same images as the desktop's icon theme has.
    static QIcon applicationIcon();
    ~TMainForm() override;

    void FormCreate();
    void FormResize();
    void PageControl1Resize();
    void TabSheet1Show();
    // Brings the XML text up to date; false when that failed (the error was shown).
    bool TabSheet2Show();

    // The XML page's buttons: load through the open dialog; save the text as shown through the save dialog.
    void B_XmlLoadClick();
    void B_XmlSaveClick();

    // Ctrl+S: saves to the current file, or through the save dialog when there is none. Ctrl+Shift+S: always
    // through the dialog. Either first brings the text up to date as showing the XML page would. True when
    // the work was saved.
    bool saveDocument();
    bool saveDocumentAs();
    // Ctrl+O: loads through the open dialog; from the data or manual page the data page then shows it.
    void openDocument();
    // Ctrl+N: after the question about unsaved work, the workspace the program starts with, with no file.
    // False when the user kept the unsaved work.
    bool newWorkspace();
    // Loads `fileName` as the load button does and shows the data page, which reads it (the command line,
    // a dropped file). False when the user kept the unsaved work or the file could not be loaded.
    bool openFile(const QString& fileName);

    const TDocument& document() const { return m_document; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum class TSaveKind { CurrentFile, AskName, AskNameAsShown };

    void pageChanged(int index);
    void switchPage(int step);
    void createPages();
    void createShortcuts();
    void updateTitle();
    QStringList workState() const;
    void fitDesignSizeToFrame();
    bool save(TSaveKind kind);
    // Whether the text to be saved may be written: it is well-formed XML, or the user, told what is wrong and
    // where, chose to save it as it is.
    bool confirmWellFormed(const QString& text);
    // The text of the current file as loaded or last saved, for a save of work that did not change: the
    // XML page's text while it still shows that text, else the file read again while it is still that
    // version. Nullopt when neither (no file, the work changed, another program wrote the file).
    std::optional<QString> unchangedFileText();
    // Whether the packet may be saved with values that do not fit their fields: it has none, or the user,
    // shown the first few, chose to save it as it is.
    bool confirmValues();
    // Whether Ctrl+S may write `fileName`: true when it is still the version loaded or last saved here, or
    // the user chose to overwrite the other program's version.
    bool mayOverwrite(const QString& fileName);
    // Asks whether to save unsaved work before it is lost; false when the user cancelled or the save failed.
    bool maybeSave();
    // Loads through the open dialog; true when a file was loaded.
    bool loadWithDialog();
    bool loadFile(const QString& fileName);
    // The data page shown with the loaded text read into it.
    void showDataPage();
    bool handleDrop(QWidget* target, QEvent* event);

    TWindowDialogs& m_dialogs;
    TErrorHandler m_errors;
    TWorkspace m_workspace;
    TDocument m_document;
    bool m_firstShow = true;
    bool m_frameFitted = false;
    // Whether the XML page shows the current file's text as loaded or last saved (not the writer's).
    bool m_viewHoldsFileText = false;
    // The current file's text was read and held no packet: Ctrl+S asks before replacing it.
    bool m_fileNotPacket = false;
    // The names the file dialogs offer: what was chosen last; the save dialog starts with no name.
    QString m_saveName;
    QString m_openName;

    QTabWidget* PageControl1 = nullptr;
    TDataPage* TabSheet1 = nullptr;
    TXmlPage* TabSheet2 = nullptr;
    TManualPage* TabSheet3 = nullptr;
};

} // namespace torvane
