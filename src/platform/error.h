#pragma once

#include <QString>
#include <exception>
#include <stdexcept>

namespace platform {

// The one exception type of the program: its message is what the user reads,
// so it is German wherever it can reach the error box.
class Error : public std::runtime_error {
public:
    explicit Error(const QString &message);
    [[nodiscard]] QString message() const { return m_message; }

private:
    QString m_message;
};

// A resource that another program holds (a tree in use): said once, and then
// where it stands in the way, instead of in an error box at every attempt.
class BusyError : public Error {
public:
    using Error::Error;
};

// The message of any exception, as the user is to read it.
QString messageOf(const std::exception &e);
// The message of a failure handed on as an exception_ptr (answers, completions).
QString messageOf(std::exception_ptr failure);

} // namespace platform
