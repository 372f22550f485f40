#include "automation/dispatch.h"

#include "platform/error.h"

namespace automation {

QVariant fromDispatch(DispatchPtr object)
{
    return QVariant::fromValue(std::move(object));
}

DispatchPtr toDispatch(const QVariant &value)
{
    if (!value.canConvert<DispatchPtr>() || !value.value<DispatchPtr>())
        throw platform::Error(QStringLiteral("Automatisierungsfehler: kein Objekt erhalten"));
    return value.value<DispatchPtr>();
}

void throwUnknownMember(const char *interfaceName, DispId id, InvokeKind kind)
{
    static constexpr const char *kKinds[] = {"Methode", "Eigenschaft lesen", "Eigenschaft schreiben"};
    throw platform::Error(QStringLiteral("Automatisierungsfehler: %1 hat kein Element %2 (%3)")
                              .arg(QString::fromLatin1(interfaceName))
                              .arg(id)
                              .arg(QString::fromLatin1(kKinds[static_cast<int>(kind)])));
}

const QVariant &argumentAt(const QVariantList &args, qsizetype index)
{
    if (index >= args.size())
        throw platform::Error(QStringLiteral("Automatisierungsfehler: Argument %1 fehlt").arg(index + 1));
    return args.at(index);
}

QVariant fromFailure(std::exception_ptr failure)
{
    return QVariant::fromValue(std::move(failure));
}

void rethrowIfFailure(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<std::exception_ptr>())
        std::rethrow_exception(value.value<std::exception_ptr>());
}

} // namespace automation
