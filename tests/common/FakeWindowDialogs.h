#pragma once

#include "FakeDialogs.h"
#include "dialogs/TWindowDialogs.h"

namespace torvane {

// Scripted answers and a log of everything the window shows, so that no test ever waits on a box.
class FakeWindowDialogs : public FakeCoreDialogs<TWindowDialogs> {
public:
    QStringList errors;
    // The file names the save question was asked about, and the answers to give (Cancel when none is left).
    QStringList saveQuestions;
    std::deque<TSaveAnswer> saveAnswers;
    // The questions asked before a text that is not well-formed XML is saved, and the answers (true for
    // 保存する; キャンセル when none is left).
    QStringList notWellFormedQuestions;
    std::deque<bool> notWellFormedAnswers;
    // The questions asked before a packet with values that do not fit their fields is saved, and the answers
    // (true for 保存する, also when none is left).
    QStringList faultyValueQuestions;
    std::deque<bool> faultyValueAnswers;
    // The files the replace question was asked about, and the answers (いいえ when none is left).
    QStringList replaceQuestions;
    std::deque<bool> replaceAnswers;
    // The files and times the overwrite question was asked about, and its answers (cancel when none is left).
    QStringList overwriteQuestions;
    QList<QDateTime> overwriteTimes;
    std::deque<bool> overwriteAnswers;
    // The files the question before replacing a file that is not a packet was asked about, and its answers
    // (cancel when none is left).
    QStringList notPacketQuestions;
    std::deque<bool> notPacketAnswers;
    // The questions asked before a file with bytes its encoding cannot read is loaded, and the answers (true
    // for 読み込む; 読み込まない when none is left).
    QStringList undecodableQuestions;
    std::deque<bool> undecodableAnswers;
    std::deque<std::optional<QString>> fileNames;
    // What the file dialogs were opened with, one entry per showing.
    QStringList saveInitialNames;
    QStringList saveFilters;
    QStringList openInitialNames;
    // The file kinds to choose in the save dialog's filter (the one offered first when none is left).
    std::deque<QString> chosenFilters;
    // The CSV import's choices (the defaults when none is left; nullopt cancels), and the preview shown for
    // each choice made.
    std::deque<std::optional<TCsvImportOptions>> csvChoices;
    QList<TCsvImportPreview> csvPreviews;

    void error(const QString& message) override
    {
        errors.append(message);
        if (whileShown) {
            whileShown();
        }
    }
    TSaveAnswer askSaveChanges(const QString& fileName) override
    {
        saveQuestions.append(fileName);
        return next(saveAnswers, TSaveAnswer::Cancel);
    }
    bool askSaveNotWellFormed(const QString& question) override
    {
        notWellFormedQuestions.append(question);
        return next(notWellFormedAnswers, false);
    }
    bool askSaveFaultyValues(const QString& question) override
    {
        faultyValueQuestions.append(question);
        return next(faultyValueAnswers, true);
    }
    bool confirmReplace(const QString& fileName) override
    {
        replaceQuestions.append(fileName);
        return next(replaceAnswers, false);
    }
    bool confirmOverwriteChanged(const QString& fileName, const QDateTime& changed) override
    {
        overwriteQuestions.append(fileName);
        overwriteTimes.append(changed);
        return next(overwriteAnswers, false);
    }
    bool confirmReplaceNotPacket(const QString& fileName) override
    {
        notPacketQuestions.append(fileName);
        return next(notPacketAnswers, false);
    }
    bool askLoadUndecodable(const QString& question) override
    {
        undecodableQuestions.append(question);
        return next(undecodableAnswers, false);
    }
    std::optional<QString> saveFileName(const QString& initialName, const QString& filter) override
    {
        saveInitialNames.append(initialName);
        saveFilters.append(filter);
        return nextFileName();
    }
    std::optional<QString> openFileName(const QString& initialName) override
    {
        openInitialNames.append(initialName);
        return nextFileName();
    }

    std::optional<TSaveChoice> saveFileNameAndFilter(const QString& initialName, const QString& filters,
                                                     const QString& selectedFilter) override
    {
        const std::optional<QString> name = saveFileName(initialName, filters);
        const QString filter = next(chosenFilters, selectedFilter);
        return name ? std::optional<TSaveChoice>(TSaveChoice{*name, filter}) : std::nullopt;
    }

    std::optional<TCsvImportOptions> chooseCsvImport(const QString&, const TCsvPreviewOf& preview) override
    {
        const std::optional<TCsvImportOptions> choice = next(csvChoices, std::optional(TCsvImportOptions{}));
        if (choice) {
            csvPreviews.append(preview(*choice));
        }
        return choice;
    }

private:
    std::optional<QString> nextFileName() { return next(fileNames, std::optional<QString>()); }
};

} // namespace torvane
