#pragma once

#include <QString>

#include <exception>

namespace torvane {

// A failure of one of the platform's services (integer conversion, list index, file access). It ends the
// operation where it is thrown; whatever the operation did before stays done. The window's one error
// handler shows message() in the error box.
class TFailure : public std::exception {
public:
    explicit TFailure(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}

    const QString& message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
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
