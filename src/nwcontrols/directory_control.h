#pragma once

#include "automation/control.h"

#include <memory>

namespace directory {
class Client;
}

namespace nwcontrols {

// The directory control over the directory client. It stands on one object
// (FullName), gives its entry (class, set value, store), runs searches that
// complete through the message pump (event OnSearchCompleted), and lists the
// children of its object restricted to the classes of Filters (Entries, read
// by the browse control).
class DirectoryControl final : public automation::Control {
public:
    explicit DirectoryControl(directory::Client &client);
    ~DirectoryControl() override;
    QVariant invoke(automation::DispId id, automation::InvokeKind kind, const QVariantList &args) override;

private:
    void search(const QVariantList &args);
    QVariant entries();

    directory::Client &m_client;
    QString m_fullName;
    QString m_filters;
    QString m_searchTree; // of the last search, for CancelSearch
    QStringList m_searchReferences; // of the last search that ended, those that may hold users
    // Lets a search that completes after this control is gone find that out.
    std::shared_ptr<DirectoryControl *> m_self;
};

} // namespace nwcontrols
