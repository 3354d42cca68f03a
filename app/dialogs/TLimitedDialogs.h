#pragma once

#include "TDialogs.h"

#include <QStringList>

namespace torvane {

// The dialogs of one operation that may have many messages to give (the reader, one per refused field):
// the first few are shown as they come, the rest are kept and finish() shows them in one box with their
// count. A packet of 10,000 fields of one name gave 9,999 boxes, one after another.
class TLimitedDialogs : public TDialogs {
public:
    static constexpr int ShownOneByOne = 3;
    // The most messages the last box lists; the count says how many there were.
    static constexpr int Listed = 20;

    explicit TLimitedDialogs(TDialogs& dialogs) : m_dialogs(dialogs) {}

    void inform(const QString& message) override
    {
        if (m_shown < ShownOneByOne) {
            ++m_shown;
            m_dialogs.inform(message);
        } else {
            m_rest.append(message);
        }
    }
    // Shows the kept messages, if any, in one box.
    void finish()
    {
        if (m_rest.isEmpty()) {
            return;
        }
        QString text = QStringLiteral("このほかに次の %1 件のメッセージがあります。\n").arg(m_rest.size());
        for (qsizetype i = 0; i < std::min<qsizetype>(m_rest.size(), Listed); ++i) {
            text += u'\n' + m_rest[i];
        }
        if (m_rest.size() > Listed) {
            text += QStringLiteral("\n…（ほか %1 件）").arg(m_rest.size() - Listed);
        }
        m_rest.clear();
        m_dialogs.inform(text);
    }

    bool confirm(const QString& question) override { return m_dialogs.confirm(question); }

private:
    TDialogs& m_dialogs;
    int m_shown = 0;
    QStringList m_rest;
};

} // namespace torvane
