#include "platform/error.h"

namespace platform {

Error::Error(const QString &message)
    : std::runtime_error(message.toStdString()), m_message(message)
{
}

QString messageOf(const std::exception &e)
{
    if (const auto *error = dynamic_cast<const Error *>(&e))
        return error->message();
    return QString::fromLocal8Bit(e.what());
}

QString messageOf(std::exception_ptr failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception &e) {
        return messageOf(e);
    }
}

} // namespace platform
