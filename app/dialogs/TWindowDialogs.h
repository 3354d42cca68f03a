#pragma once

#include "TCsvFile.h"
#include "TDialogs.h"

#include <QDateTime>
#include <QFileInfo>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace torvane {

// The answers to the question asked before unsaved work would be lost.
enum class TSaveAnswer { Save, Discard, Cancel };

// A name chosen in the save dialog, with the file kind (one of its filters) chosen beside it.
struct TSaveChoice {
    QString fileName;
    QString filter;

    // The name with the chosen kind's extension (the "*.csv" of "CSV UTF-8 BOM付き (*.csv)") put on when it
    // has none: the dialog puts none on itself, so that the packet's save keeps a name as it was typed.
    QString fileNameWithExtension() const
    {
        const QString pattern = filter.section(u'(', -1).section(u')', 0, 0).section(u' ', 0, 0).trimmed();
        if (!pattern.startsWith(QStringLiteral("*.")) || pattern.size() < 3 || pattern.indexOf(u'*', 1) > 0 ||
            !QFileInfo(fileName).suffix().isEmpty()) {
            return fileName;
        }
        return fileName.endsWith(u'.') ? fileName + pattern.mid(2) : fileName + pattern.mid(1);
    }
};

// How a CSV file is read into the data table.
struct TCsvImportOptions {
    QChar separator = u',';
    // The first row names the fields; without one the columns are 列1, 列2, ….
    bool header = true;
    TCsvEncodingChoice encoding = TCsvEncodingChoice::Automatic;
};

// What importing a file with some options would do, for the options dialog to show.
struct TCsvImportPreview {
    QStringList names;
    // The first records, as read.
    QList<QStringList> rows;
    // What will happen (rows appended, fields added), or why the file cannot be read so.
    QString outcome;
    bool readable = false;
};
using TCsvPreviewOf = std::function<TCsvImportPreview(const TCsvImportOptions&)>;

// Every modal box and file dialog the window shows goes through this interface, beside the core's two, so
// that the window's code can ask without knowing about widgets, and tests can answer without anything
// blocking.
class TWindowDialogs : public TDialogs {
public:
    // The error box: titled "Torvane", error icon; the message as given (the full stop rule is applied by
    // errorBoxText() before it is shown).
    virtual void error(const QString& message) = 0;
    // "確認" with a question icon: whether to save the unsaved work (in `fileName` when there is one) before
    // it would be lost; "保存する(&S)" (default), "保存しない(&N)" and "キャンセル" (also Esc and closing the box).
    // Dialogs that show no boxes keep the work by cancelling.
    virtual TSaveAnswer askSaveChanges(const QString& fileName)
    {
        Q_UNUSED(fileName);
        return TSaveAnswer::Cancel;
    }
    // "確認" with a warning icon, before a text that is not well-formed XML is saved: `question` says what is
    // wrong and where; "保存する(&S)" and "キャンセル" (default, also Esc and closing the box). True for
    // 保存する. Dialogs that show no boxes write nothing
    // that other programs cannot read.
    virtual bool askSaveNotWellFormed(const QString& question)
    {
        Q_UNUSED(question);
        return false;
    }
    // "確認" with a warning icon, before a packet whose values do not all fit their fields is saved: `question`
    // lists the first few; "保存する(&S)" (the default) and "キャンセル" (also Esc and closing the box). True for
    // 保存する: a warning, not a refusal, as the user may mean the values. Dialogs that show no boxes save.
    virtual bool askSaveFaultyValues(const QString& question)
    {
        Q_UNUSED(question);
        return true;
    }
    // Qt's file dialog's question before a save replaces a file, in Qt's Japanese: titled "名前を付けて保存",
    // warning icon, "<name> は既に存在します。\n置き換えますか?" with "はい(&Y)" and "いいえ(&N)" (default,
    // also Esc). True for はい.
    virtual bool confirmReplace(const QString& fileName)
    {
        Q_UNUSED(fileName);
        return false;
    }
    // "確認" with a warning icon, before a save writes over `fileName` that another program changed (at
    // `changed`, local time) since it was loaded or saved here: "上書きする(&O)" or "キャンセル" (the
    // default, also Esc); true for overwrite. Dialogs that show no boxes never overwrite such a file.
    virtual bool confirmOverwriteChanged(const QString& fileName, const QDateTime& changed)
    {
        Q_UNUSED(fileName);
        Q_UNUSED(changed);
        return false;
    }
    // "確認" with a warning icon, before Ctrl+S writes over `fileName` whose text was read and held no packet
    // (a pom.xml, a web page): "上書きする(&O)" or "キャンセル" (the default, also Esc); true for overwrite.
    // Dialogs that show no boxes never replace such a file.
    virtual bool confirmReplaceNotPacket(const QString& fileName)
    {
        Q_UNUSED(fileName);
        return false;
    }
    // "確認" with a warning icon, when a file to be loaded holds bytes its encoding cannot read: `question`
    // says how many, in which encoding and where the first stands; "読み込む(&L)" (the unreadable bytes
    // become U+FFFD) or "読み込まない" (the default, also Esc; the work and the current file stay as they
    // were). True for 読み込む. Dialogs that show no boxes load nothing so changed.
    virtual bool askLoadUndecodable(const QString& question)
    {
        Q_UNUSED(question);
        return false;
    }
    // The save dialog; nullopt when cancelled. It asks nothing about a name that is taken: see
    // askSaveFileName().
    virtual std::optional<QString> saveFileName(const QString& initialName, const QString& filter) = 0;
    // The open dialog; nullopt when cancelled.
    virtual std::optional<QString> openFileName(const QString& initialName) = 0;
    // The save dialog offering `filters` (";;" between them) with `selectedFilter` chosen at first.
    virtual std::optional<TSaveChoice> saveFileNameAndFilter(const QString& initialName, const QString& filters,
                                                             const QString& selectedFilter)
    {
        const std::optional<QString> name = saveFileName(initialName, filters);
        return name ? std::optional<TSaveChoice>(TSaveChoice{*name, selectedFilter}) : std::nullopt;
    }
    // The open dialog showing the files that `filter` names.
    virtual std::optional<QString> openFileNameWithFilter(const QString& initialName, const QString& filter)
    {
        Q_UNUSED(filter);
        return openFileName(initialName);
    }
    // The CSV import's options for `fileName`: separator, header row and encoding, with `preview` shown for
    // each choice. nullopt when cancelled; dialogs that show no boxes take the defaults.
    virtual std::optional<TCsvImportOptions> chooseCsvImport(const QString& fileName, const TCsvPreviewOf& preview)
    {
        Q_UNUSED(fileName);
        Q_UNUSED(preview);
        return TCsvImportOptions{};
    }
};

// A name from the save dialog that names no one file but a pattern ("*.xml", typed or left as a filter):
// written literally it would be a file that shells and file dialogs take for a pattern, so it is refused with
// the error box and the dialog opens again on its folder. True when refused.
inline bool refusedPatternName(TWindowDialogs& dialogs, const QString& fileName, QString& initialName)
{
    const QFileInfo file(fileName);
    if (!file.fileName().contains(u'*') && !file.fileName().contains(u'?')) {
        return false;
    }
    dialogs.error(QStringLiteral("「%1」はファイル名のパターンです。* や ? を含まないファイル名を指定してください")
                      .arg(file.fileName()));
    initialName = file.absolutePath() + u'/';
    return true;
}

inline const QString& chosenFileName(const QString& name)
{
    return name;
}
inline const QString& chosenFileName(const TSaveChoice& choice)
{
    return choice.fileName;
}

// The save dialog as a user expects it, `ask(initialName)` showing it: a pattern is no name
// (refusedPatternName()), and a name that is taken by a file is replaced only after the question
// confirmReplace(); いいえ opens the dialog again on that name. The question is ours rather than the dialog's,
// so that it is asked the same way whichever dialog gives the name.
template <typename Ask> auto askSaveName(TWindowDialogs& dialogs, QString initialName, Ask ask)
{
    for (;;) {
        auto choice = ask(initialName);
        if (!choice) {
            return choice;
        }
        if (refusedPatternName(dialogs, chosenFileName(*choice), initialName)) {
            continue;
        }
        const QFileInfo file(chosenFileName(*choice));
        if (!file.exists() || file.isDir() || dialogs.confirmReplace(chosenFileName(*choice))) {
            return choice;
        }
        initialName = chosenFileName(*choice);
    }
}

inline std::optional<TSaveChoice> askSaveFileNameAndFilter(TWindowDialogs& dialogs, const QString& initialName,
                                                           const QString& filters, QString selectedFilter)
{
    return askSaveName(dialogs, initialName, [&](const QString& name) {
        std::optional<TSaveChoice> choice = dialogs.saveFileNameAndFilter(name, filters, selectedFilter);
        if (choice) {
            selectedFilter = choice->filter;
        }
        return choice;
    });
}

inline std::optional<QString> askSaveFileName(TWindowDialogs& dialogs, const QString& initialName,
                                              const QString& filter)
{
    return askSaveName(dialogs, initialName, [&](const QString& name) { return dialogs.saveFileName(name, filter); });
}

} // namespace torvane
