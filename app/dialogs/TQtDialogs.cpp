#include "dialogs/TQtDialogs.h"

#include "TFailure.h"
#include "dialogs/TCsvImportDialog.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

namespace torvane {

namespace {

const QString AppTitle = QStringLiteral("Torvane");
const QString ConfirmTitle = QStringLiteral("確認");

// Without a parent the box is centred on the screen and blocks the whole application.
void showBox(QMessageBox::Icon icon, const QString& text)
{
    QMessageBox box(icon, AppTitle, text);
    box.setObjectName(QStringLiteral("MessageBox"));
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
}

std::optional<QString> runFileDialog(QFileDialog& dialog, const QString& initialName)
{
    // A remembered name may carry a folder; the dialog opens there with the name filled in.
    if (!initialName.isEmpty()) {
        const QFileInfo info(initialName);
        if (info.isAbsolute()) {
            dialog.setDirectory(info.absolutePath());
        }
        dialog.selectFile(info.fileName());
    }
    dialog.setDefaultSuffix(QString());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return dialog.selectedFiles().constFirst();
}

// A warning whose second button is the safe answer: the default, and what Esc and closing the box press, so
// that a stray Enter loses nothing. True when the first button was pressed.
struct TWarningButton {
    QString text;
    QMessageBox::ButtonRole role;
};
bool askWarning(QWidget* parent, const char* objectName, const QString& title, const QString& text,
                const TWarningButton& go, const TWarningButton& stay, bool goIsDefault = false)
{
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::NoButton, parent);
    box.setObjectName(QLatin1String(objectName));
    QPushButton* goButton = box.addButton(go.text, go.role);
    QPushButton* stayButton = box.addButton(stay.text, stay.role);
    box.setDefaultButton(goIsDefault ? goButton : stayButton);
    box.setEscapeButton(stayButton);
    box.exec();
    return box.clickedButton() == goButton;
}

} // namespace

TQtDialogs::TQtDialogs()
{
    // A folder under a device file can never be made: Qt's writes there fail quietly and leave nothing,
    // not even a temporary folder when the program is killed.
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat}) {
        QSettings::setPath(format, QSettings::UserScope, QStringLiteral("/dev/null/torvane"));
    }
}

void TQtDialogs::inform(const QString& message)
{
    showBox(QMessageBox::NoIcon, message);
}

bool TQtDialogs::confirm(const QString& question)
{
    QMessageBox box(QMessageBox::Question, ConfirmTitle, question);
    box.setObjectName(QStringLiteral("ConfirmBox"));
    QPushButton* yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    // Esc and closing the box both press the escape button.
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

void TQtDialogs::error(const QString& message)
{
    showBox(QMessageBox::Critical, errorBoxText(message));
}

TSaveAnswer TQtDialogs::askSaveChanges(const QString& fileName)
{
    const QString question = fileName.isEmpty()
                                 ? QStringLiteral("変更を保存しますか？")
                                 : QStringLiteral("「%1」への変更を保存しますか？").arg(QFileInfo(fileName).fileName());
    QMessageBox box(QMessageBox::Question, ConfirmTitle, question, QMessageBox::NoButton, m_window);
    box.setObjectName(QStringLiteral("SaveChangesBox"));
    QPushButton* save = box.addButton(QStringLiteral("保存する(&S)"), QMessageBox::AcceptRole);
    QPushButton* discard = box.addButton(QStringLiteral("保存しない(&N)"), QMessageBox::DestructiveRole);
    QPushButton* cancel = box.addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole);
    box.setDefaultButton(save);
    // Esc and closing the box both press the escape button: nothing is lost by either.
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == save) {
        return TSaveAnswer::Save;
    }
    return box.clickedButton() == discard ? TSaveAnswer::Discard : TSaveAnswer::Cancel;
}

bool TQtDialogs::askSaveNotWellFormed(const QString& question)
{
    // A file other programs cannot read is written only when the user says so.
    return askWarning(m_window, "NotWellFormedBox", ConfirmTitle, question,
                      {QStringLiteral("保存する(&S)"), QMessageBox::AcceptRole},
                      {QStringLiteral("キャンセル"), QMessageBox::RejectRole});
}

bool TQtDialogs::askSaveFaultyValues(const QString& question)
{
    return askWarning(m_window, "FaultyValuesBox", ConfirmTitle, question,
                      {QStringLiteral("保存する(&S)"), QMessageBox::AcceptRole},
                      {QStringLiteral("キャンセル"), QMessageBox::RejectRole}, true);
}

bool TQtDialogs::confirmReplace(const QString& fileName)
{
    // Word for word what QFileDialog asks, in Qt's own Japanese translation.
    return askWarning(m_window, "ReplaceBox", QStringLiteral("名前を付けて保存"),
                      QStringLiteral("%1 は既に存在します。\n置き換えますか?").arg(QFileInfo(fileName).fileName()),
                      {QStringLiteral("はい(&Y)"), QMessageBox::YesRole},
                      {QStringLiteral("いいえ(&N)"), QMessageBox::NoRole});
}

bool TQtDialogs::confirmOverwriteChanged(const QString& fileName, const QDateTime& changed)
{
    const QString question =
        QStringLiteral("ファイル「%1」は、読み込みまたは保存の後、%2 に他のプログラムによって変更されています。"
                       "上書きしますか？（上書きすると、その変更は失われます）")
            .arg(QFileInfo(fileName).fileName(), changed.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss")));
    return askWarning(m_window, "OverwriteChangedBox", ConfirmTitle, question,
                      {QStringLiteral("上書きする(&O)"), QMessageBox::AcceptRole},
                      {QStringLiteral("キャンセル"), QMessageBox::RejectRole});
}

bool TQtDialogs::confirmReplaceNotPacket(const QString& fileName)
{
    const QString question =
        QStringLiteral("ファイル「%1」はデータパケットではありません（DATAPACKET 要素がありません）。"
                       "上書きしますか？（上書きすると、今の内容は失われます）")
            .arg(QFileInfo(fileName).fileName());
    return askWarning(m_window, "ReplaceNotPacketBox", ConfirmTitle, question,
                      {QStringLiteral("上書きする(&O)"), QMessageBox::AcceptRole},
                      {QStringLiteral("キャンセル"), QMessageBox::RejectRole});
}

bool TQtDialogs::askLoadUndecodable(const QString& question)
{
    // Characters lost in a load would be lost for good by the next save: they are taken only when the user
    // says so.
    return askWarning(m_window, "UndecodableBox", ConfirmTitle, question,
                      {QStringLiteral("読み込む(&L)"), QMessageBox::AcceptRole},
                      {QStringLiteral("読み込まない"), QMessageBox::RejectRole});
}

namespace {

void prepareSaveDialog(QFileDialog& dialog, const QString& filters)
{
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(filters);
    // The question before a file is replaced is asked by the caller (askSaveFileName()), not twice.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setOption(QFileDialog::ReadOnly, false);
}

} // namespace

std::optional<QString> TQtDialogs::saveFileName(const QString& initialName, const QString& filter)
{
    QFileDialog dialog(m_window);
    prepareSaveDialog(dialog, filter);
    return runFileDialog(dialog, initialName);
}

std::optional<TSaveChoice> TQtDialogs::saveFileNameAndFilter(const QString& initialName, const QString& filters,
                                                             const QString& selectedFilter)
{
    QFileDialog dialog(m_window);
    prepareSaveDialog(dialog, filters);
    dialog.selectNameFilter(selectedFilter);
    const std::optional<QString> name = runFileDialog(dialog, initialName);
    return name ? std::optional<TSaveChoice>(TSaveChoice{*name, dialog.selectedNameFilter()}) : std::nullopt;
}

std::optional<QString> TQtDialogs::openFileNameWithFilter(const QString& initialName, const QString& filter)
{
    QFileDialog dialog(m_window);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(filter);
    return runFileDialog(dialog, initialName);
}

std::optional<QString> TQtDialogs::openFileName(const QString& initialName)
{
    QFileDialog dialog(m_window);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // A name that does not exist is accepted here and fails on opening, with the program's own message.
    dialog.setFileMode(QFileDialog::AnyFile);
    return runFileDialog(dialog, initialName);
}

std::optional<TCsvImportOptions> TQtDialogs::chooseCsvImport(const QString& fileName, const TCsvPreviewOf& preview)
{
    TCsvImportDialog dialog(fileName, preview, m_window);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.options();
}

} // namespace torvane
