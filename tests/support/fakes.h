#pragma once

#include "automation/control.h"

#include <QHash>
#include <QStringList>

#include <functional>

// Fake controls registered under the real control class ids.
namespace fakes {

// A session control attached to the given trees (full names NDS:\\NAME).
class FakeSession final : public automation::Control {
public:
    explicit FakeSession(QStringList trees) : trees(std::move(trees)) {}
    QVariant invoke(automation::DispId id, automation::InvokeKind kind, const QVariantList &args) override;

    QStringList trees;
    bool fail = false;
};

// A directory control that records what it is asked and answers from a script.
class FakeDirectory final : public automation::Control {
public:
    QVariant invoke(automation::DispId id, automation::InvokeKind kind, const QVariantList &args) override;

    // What the search delivers as Results; posted through the message pump
    // unless `fireDuringCall`.
    QVariant results = QVariantList();
    bool fireDuringCall = false;
    bool completes = true; // false: the search never reports its end
    bool failSearch = false;
    int failStoreAt = 0; // 1-based number of the store that raises; 0 never
    std::function<void()> onStore;  // runs at each store, before its failure check
    std::function<void()> onSearch; // runs inside the search call

    QString fullName;
    QString filters;
    QHash<QString, QString> classes; // full name -> class name
    QList<QVariantList> searches;    // arguments of each search call
    QList<QStringList> stores;       // full name, attribute, values after each store
    int entryReads = 0;

    void completeWith(const QVariant &value) { postEvent(4, {value}); }

private:
    QList<QStringList> m_pending; // attribute, values
};

// Registers a fake session and directory control; returns them for scripting.
struct Installed {
    std::shared_ptr<FakeSession> session;
    std::shared_ptr<FakeDirectory> directory;
};
Installed install(const QStringList &trees);

} // namespace fakes
