#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>

#include <exception>
#include <memory>

// The seam between the program and its controls: everything is reached by
// dispatch id, with QVariant as the variant type (QString for wide text,
// qint32, bool, QVariantList for a one-dimensional array, DispatchPtr for an
// object). On Windows an IDispatch could stand behind the same interface.
namespace automation {

using DispId = qint32;

enum class InvokeKind { Method, PropertyGet, PropertyPut };

class Dispatch {
public:
    virtual ~Dispatch() = default;
    virtual QVariant invoke(DispId id, InvokeKind kind, const QVariantList &args = {}) = 0;
};

using DispatchPtr = std::shared_ptr<Dispatch>;

QVariant fromDispatch(DispatchPtr object);

// The object a variant holds; raises an error when it holds none.
DispatchPtr toDispatch(const QVariant &value);

// The error for a member that an interface does not have.
[[noreturn]] void throwUnknownMember(const char *interfaceName, DispId id, InvokeKind kind);

// The argument at `index`, raising an error when the caller passed too few.
const QVariant &argumentAt(const QVariantList &args, qsizetype index);

// A failure carried in a variant, as an event's result (VT_ERROR in COM).
QVariant fromFailure(std::exception_ptr failure);
// Raises the failure that `value` carries; does nothing for any other value.
void rethrowIfFailure(const QVariant &value);

} // namespace automation

Q_DECLARE_METATYPE(automation::DispatchPtr)
Q_DECLARE_METATYPE(std::exception_ptr)
