#pragma once

#include "TErrorHandler.h"
#include "TWorkspace.h"

#include <QWidget>

class QPlainTextEdit;
class QPushButton;

namespace torvane {

// The XML page: the packet text view with its load and save buttons.
class TXmlPage : public QWidget {
    Q_OBJECT
public:
    TXmlPage(TWorkspace& workspace, TDialogs& dialogs, const TErrorHandler& errors, QWidget* parent = nullptr);

    // The view's text with lines separated by "\n", exactly as held (no-break spaces stay what they are).
    QString viewText() const;
    // Replaces the view's text by a freshly written packet (every line ending in CR LF). The view is not
    // marked modified by it, so it asks for no parse.
    void showPacket(const QString& crlfText);

    void B_XmlLoadClick();
    void B_XmlSaveClick();
    void Te_XmlChange();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeControls();

    TWorkspace& m_workspace;
    TDialogs& m_dialogs;
    const TErrorHandler& m_errors;
    // The names the dialogs offer: what was chosen last, the save dialog starting from "*.xml".
    QString m_saveName = QStringLiteral("*.xml");
    QString m_openName;

    QPushButton* B_XmlLoad = nullptr;
    QPushButton* B_XmlSave = nullptr;
    QPlainTextEdit* Te_Xml = nullptr;
};

} // namespace torvane
