#include "TQtDialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

namespace torvane {

namespace {

const QString AppTitle = QStringLiteral("Torvane");

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
    QMessageBox box(QMessageBox::Question, QStringLiteral("確認"), question);
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
    QMessageBox box(QMessageBox::Question, QStringLiteral("確認"), question, QMessageBox::NoButton, m_window);
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

namespace {

void prepareSaveDialog(QFileDialog& dialog, const QString& filters)
{
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(filters);
    // The file is replaced without a question: that is what saving here means.
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

} // namespace torvane
