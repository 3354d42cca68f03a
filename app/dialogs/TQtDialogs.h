#pragma once

#include "dialogs/TWindowDialogs.h"

#include <QPointer>
#include <QWidget>

namespace torvane {

// The dialogs of the running program: modal message boxes centred on the screen and Qt's file dialogs.
class TQtDialogs : public TWindowDialogs {
public:
    // Qt's file dialogs write their history, last folder and view to the user's QtProject.conf whenever one
    // closes, which no option turns off. The program keeps no state, so Qt's user settings are pointed
    // where nothing can be written.
    TQtDialogs();

    // The file dialogs and the save question open over this window.
    void setWindow(QWidget* window) { m_window = window; }

    void inform(const QString& message) override;
    bool confirm(const QString& question) override;
    void error(const QString& message) override;
    std::optional<QString> saveFileName(const QString& initialName, const QString& filter) override;
    std::optional<QString> openFileName(const QString& initialName) override;
    std::optional<TSaveChoice> saveFileNameAndFilter(const QString& initialName, const QString& filters,
                                                     const QString& selectedFilter) override;
    std::optional<QString> openFileNameWithFilter(const QString& initialName, const QString& filter) override;
    TSaveAnswer askSaveChanges(const QString& fileName) override;
    bool askSaveNotWellFormed(const QString& question) override;
    bool askSaveFaultyValues(const QString& question) override;
    bool confirmReplace(const QString& fileName) override;
    bool confirmOverwriteChanged(const QString& fileName, const QDateTime& changed) override;
    bool confirmReplaceNotPacket(const QString& fileName) override;
    bool askLoadUndecodable(const QString& question) override;
    std::optional<TCsvImportOptions> chooseCsvImport(const QString& fileName, const TCsvPreviewOf& preview) override;

private:
    QPointer<QWidget> m_window;
};

} // namespace torvane
