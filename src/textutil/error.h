#pragma once

#include <QByteArray>
#include <QString>

#include <exception>
#include <utility>

namespace belmire {

// The one error type of the system: a message meant for the user, in the
// user's language. Every layer throws it; the run frame adds where it happened.
class Error : public std::exception {
public:
    explicit Error(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}

    const QString& message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

} // namespace belmire
