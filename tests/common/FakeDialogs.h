#pragma once

#include "TDialogs.h"

#include <QStringList>

#include <deque>
#include <functional>

namespace torvane {

// Scripted answers and a log of everything shown, so that no test ever waits on a box.
class FakeDialogs : public TDialogs {
public:
    QStringList informed;
    QStringList questions;
    QStringList errors;
    std::deque<bool> confirmAnswers;
    // The file names the save question was asked about, and the answers to give (Cancel when none is left).
    QStringList saveQuestions;
    std::deque<TSaveAnswer> saveAnswers;
    // The questions asked before a text that is not well-formed XML is saved, and the answers (true for
    // 保存する; キャンセル when none is left).
    QStringList notWellFormedQuestions;
    std::deque<bool> notWellFormedAnswers;
    // The files the replace question was asked about, and the answers (いいえ when none is left).
    QStringList replaceQuestions;
    std::deque<bool> replaceAnswers;
    // The files and times the overwrite question was asked about, and its answers (cancel when none is left).
    QStringList overwriteQuestions;
    QList<QDateTime> overwriteTimes;
    std::deque<bool> overwriteAnswers;
    // The questions asked before a file with bytes its encoding cannot read is loaded, and the answers (true
    // for 読み込む; 読み込まない when none is left).
    QStringList undecodableQuestions;
    std::deque<bool> undecodableAnswers;
    // Runs while a message is shown, as a real box would take the focus meanwhile.
    std::function<void()> whileShown;
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

    void inform(const QString& message) override
    {
        informed.append(message);
        if (whileShown) {
            whileShown();
        }
    }
    bool confirm(const QString& question) override
    {
        questions.append(question);
        return next(confirmAnswers, false);
    }
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

    // The next scripted answer, or `otherwise` when none is left.
    template <typename T> static T next(std::deque<T>& answers, T otherwise)
    {
        if (answers.empty()) {
            return otherwise;
        }
        const T answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

} // namespace torvane
