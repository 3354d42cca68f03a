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
        if (confirmAnswers.empty()) {
            return false;
        }
        const bool answer = confirmAnswers.front();
        confirmAnswers.pop_front();
        return answer;
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
        if (saveAnswers.empty()) {
            return TSaveAnswer::Cancel;
        }
        const TSaveAnswer answer = saveAnswers.front();
        saveAnswers.pop_front();
        return answer;
    }
    bool askSaveNotWellFormed(const QString& question) override
    {
        notWellFormedQuestions.append(question);
        if (notWellFormedAnswers.empty()) {
            return false;
        }
        const bool answer = notWellFormedAnswers.front();
        notWellFormedAnswers.pop_front();
        return answer;
    }
    bool confirmReplace(const QString& fileName) override
    {
        replaceQuestions.append(fileName);
        if (replaceAnswers.empty()) {
            return false;
        }
        const bool answer = replaceAnswers.front();
        replaceAnswers.pop_front();
        return answer;
    }
    bool confirmOverwriteChanged(const QString& fileName, const QDateTime& changed) override
    {
        overwriteQuestions.append(fileName);
        overwriteTimes.append(changed);
        if (overwriteAnswers.empty()) {
            return false;
        }
        const bool answer = overwriteAnswers.front();
        overwriteAnswers.pop_front();
        return answer;
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
        QString filter = selectedFilter;
        if (!chosenFilters.empty()) {
            filter = chosenFilters.front();
            chosenFilters.pop_front();
        }
        return name ? std::optional<TSaveChoice>(TSaveChoice{*name, filter}) : std::nullopt;
    }

    std::optional<TCsvImportOptions> chooseCsvImport(const QString&, const TCsvPreviewOf& preview) override
    {
        std::optional<TCsvImportOptions> choice = TCsvImportOptions{};
        if (!csvChoices.empty()) {
            choice = csvChoices.front();
            csvChoices.pop_front();
        }
        if (choice) {
            csvPreviews.append(preview(*choice));
        }
        return choice;
    }

private:
    std::optional<QString> nextFileName()
    {
        if (fileNames.empty()) {
            return std::nullopt;
        }
        auto name = fileNames.front();
        fileNames.pop_front();
        return name;
    }
};

} // namespace torvane
