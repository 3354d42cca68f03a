#pragma once

#include "TDialogs.h"

#include <QStringList>

#include <deque>
#include <functional>

namespace torvane {

// Scripted answers to the core's questions and a log of its messages, so that no test ever waits on a box.
// `Base` is the interface answered: the core's, or the window's built on it (FakeWindowDialogs).
template <typename Base> class FakeCoreDialogs : public Base {
public:
    QStringList informed;
    QStringList questions;
    std::deque<bool> confirmAnswers;
    // Runs while a message is shown, as a real box would take the focus meanwhile.
    std::function<void()> whileShown;

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

protected:
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

using FakeDialogs = FakeCoreDialogs<TDialogs>;

} // namespace torvane
