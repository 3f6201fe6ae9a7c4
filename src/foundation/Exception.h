#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace valmora {

// The program's own exception class: every failure the system raises carries a
// user-readable message as text.
class Exception : public std::exception
{
public:
    explicit Exception(QString message)
        : m_message(std::move(message))
        , m_utf8(m_message.toUtf8())
    {
    }

    const QString &message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// Raised by the registry store ("Invalid data type for '%s'", "Failed to set data for '%s'").
class ERegistryException final : public Exception
{
public:
    using Exception::Exception;
};

// Raised for an index outside a list ("List index out of bounds (%d)", "Argument out of range").
class EListError final : public Exception
{
public:
    using Exception::Exception;
};

// Raised by Format when a format does not match its arguments.
class EConvertError final : public Exception
{
public:
    using Exception::Exception;
};

// Gives the message of any exception, ours or the standard library's.
QString ExceptionMessage(const std::exception &e);

} // namespace valmora
