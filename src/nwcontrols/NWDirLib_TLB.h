#pragma once

#include "automation/control.h"

#include <QString>
#include <QVariant>

#include <functional>

// The directory control's interface, called by dispatch id, and its host class.
namespace NWDirLib_TLB {

inline const QString CLASS_NWDir = QStringLiteral("{4F021AE3-9E98-11D0-A808-00C04FDCD94A}");

// Dispatch ids, one namespace per interface: the same number means a
// different member on each.
namespace dispid {
namespace DNWDir {
constexpr automation::DispId FullName = 1;
constexpr automation::DispId Entry = 3;
constexpr automation::DispId Entries = 4;
constexpr automation::DispId Filters = 9;
constexpr automation::DispId Search = 15;
// Ours: ends the search under way at once; its OnSearchCompleted carries the
// cancellation.
constexpr automation::DispId CancelSearch = 116;
// Ours: the URLs of the parts of the tree that the last search could not
// look into (the server referred them to another) and that may hold users.
constexpr automation::DispId SearchReferences = 117;
} // namespace DNWDir
namespace DNWDirEvents {
constexpr automation::DispId OnSearchCompleted = 4;
} // namespace DNWDirEvents
namespace INWEntry {
constexpr automation::DispId Class = 3;
constexpr automation::DispId SetValue = 12;
constexpr automation::DispId Update = 14;
// Ours, beyond the vendor's interface: replace the values (array) found by a
// search (array) with others, storing only the difference.
constexpr automation::DispId SetValues = 112;
// Ours too: whether the directory compares the attribute's values regardless
// of letter case.
constexpr automation::DispId IgnoresCase = 113;
} // namespace INWEntry
namespace INWClassDescription {
constexpr automation::DispId Name = 4;
} // namespace INWClassDescription
} // namespace dispid

class INWClassDescription {
public:
    explicit INWClassDescription(automation::DispatchPtr object) : m_object(std::move(object)) {}
    [[nodiscard]] QString Name() const;

private:
    automation::DispatchPtr m_object;
};

class INWEntry {
public:
    explicit INWEntry(automation::DispatchPtr object) : m_object(std::move(object)) {}
    [[nodiscard]] INWClassDescription Class() const;
    bool SetValue(const QString &attribute, const QVariant &value);
    bool SetValues(const QString &attribute, const QStringList &before, const QStringList &after);
    [[nodiscard]] bool IgnoresCase(const QString &attribute) const;
    bool Update();

private:
    automation::DispatchPtr m_object;
};

} // namespace NWDirLib_TLB

// Hosts the directory control, created through the control registry.
class TNWDir {
public:
    TNWDir();
    Q_DISABLE_COPY_MOVE(TNWDir)

    [[nodiscard]] QString FullName() const;
    void SetFullName(const QString &fullName);
    [[nodiscard]] NWDirLib_TLB::INWEntry Entry() const;
    void SetFilters(const QString &filters);
    void Search(const QString &searchText, const QString &className, qint32 scope, const QString &context,
                qint32 flags);
    void CancelSearch();
    [[nodiscard]] QStringList SearchReferences() const;

    // The control's own dispatch interface, as handed to the browse control.
    [[nodiscard]] automation::DispatchPtr ControlInterface() const { return m_control; }

    // Raised once when a search has ended; Results is a one-dimensional array
    // of the hits' full names, or of [full name, DN, values] when the search
    // text named an attribute.
    std::function<void(TNWDir *Sender, const QVariant &Results)> OnSearchCompleted;

private:
    automation::ControlPtr m_control;
};
