#pragma once

#include <QFileInfo>
#include <QString>

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

// Every modal box and file dialog the program shows goes through this interface, so that the core can
// ask and tell without knowing about widgets, and tests can answer without anything blocking.
class TDialogs {
public:
    virtual ~TDialogs() = default;

    // A user message: titled "Torvane", no icon, one "OK" button.
    virtual void inform(const QString& message) = 0;
    // The confirmation "確認" with "はい(&Y)" (default) and "いいえ(&N)"; true for Yes.
    virtual bool confirm(const QString& question) = 0;
    // The error box: titled "Torvane", error icon; the message as given (the full stop rule is applied by
    // errorBoxText() before it is shown).
    virtual void error(const QString& message) = 0;
    // "確認" with a question icon: whether to save the unsaved work (in `fileName` when there is one) before
    // it would be lost; "保存する(&S)" (default), "保存しない(&N)" and "キャンセル" (also Esc and closing the box).
    // Tools without a window never hold unsaved work; they keep it by cancelling.
    virtual TSaveAnswer askSaveChanges(const QString& fileName)
    {
        Q_UNUSED(fileName);
        return TSaveAnswer::Cancel;
    }
    // The save dialog; nullopt when cancelled.
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
};

// The error box adds a full stop when the message's last character sorts after ".".
inline QString errorBoxText(const QString& message)
{
    if (!message.isEmpty() && message.back() > QChar(u'.')) {
        return message + u'.';
    }
    return message;
}

} // namespace torvane
