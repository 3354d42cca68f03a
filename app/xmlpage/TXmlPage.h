#pragma once

#include "TWorkspace.h"
#include "dialogs/TErrorHandler.h"

#include <QWidget>

class QPushButton;

namespace torvane {

class TFindBar;
class TTextView;

// The XML page: the packet text view with its load and save buttons. The buttons' handlers belong to the
// window, which owns the file the work belongs to.
class TXmlPage : public QWidget {
    Q_OBJECT
public:
    TXmlPage(TWorkspace& workspace, const TErrorHandler& errors, QWidget* parent = nullptr);

    // The view's text exactly as held (no-break spaces stay what they are), every line break CR LF, as
    // the reader and the save take it: no copy, no conversion.
    const QString& crLfText() const;
    // Takes the view's text out whole (the view shows none), for a new packet to be written over it; no
    // change event, as the text is replaced next.
    QString takeText();
    // Replaces the view's text by a freshly written packet (every line ending in CR LF), held as it is.
    // The view is not marked modified by it, so it asks for no parse.
    void showPacket(QString crlfText);
    // Replaces the view's text by a loaded file's text and marks it modified. A file whose line breaks
    // are all CR LF is held as it is; lone LFs and CRs become CR LF.
    void showLoadedText(QString text);
    // The data page read the text as it is now.
    void textRead();
    // Whether the text differs from what the data page last read or the writer wrote (a loaded text not read
    // yet differs; hand edits undone do not).
    bool isTextEdited() const;
    // Whether `widget` is the text view or part of it.
    bool holdsView(const QWidget* widget) const;

    void Te_XmlChange();

    // Ctrl+F, Ctrl+H and Ctrl+G: the find bar at the bottom of the page, the text view giving it room.
    void openFind();
    void openReplace();
    void openGoToLine();
    void closeFindBar();

signals:
    void loadClicked();
    void saveClicked();
    // The user changed the text by hand, or undid such changes.
    void edited();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void placeControls();

    TWorkspace& m_workspace;
    const TErrorHandler& m_errors;

    QPushButton* B_XmlLoad = nullptr;
    QPushButton* B_XmlSave = nullptr;
    TTextView* Te_Xml = nullptr;
    TFindBar* m_findBar = nullptr;
    // A hand edit is under way, and whether the workspace still had the text to read when it began.
    bool m_handEdited = false;
    bool m_readWasPending = false;
};

} // namespace torvane
