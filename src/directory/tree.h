#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "directory/found.h"
#include "platform/error.h"

#include <exception>
#include <functional>

namespace directory {

enum class Scope { OneLevel, Subtree };

struct DirectoryObject {
    QString fullName;
    QString className; // NDS class name, e.g. "Organizational Unit"
};

// One attribute of one object: the values a search found there and the values
// to store instead. A tree that can changes only the difference, so that a
// value someone else added meanwhile stays and one taken away meanwhile makes
// the directory refuse the change.
struct ValueChange {
    QString fullName;
    QString attribute; // NDS name, e.g. "OU"
    QStringList before;
    QStringList after;
};

// What a change from `before` to `after` deletes and adds, as UTF-8: the
// values of each list that the other lacks, so values outside it stay.
struct ValueDifference {
    QList<QByteArray> removed;
    QList<QByteArray> added;
};
ValueDifference difference(const QStringList &before, const QStringList &after);

// How a change that failed ended, so that a caller never records more than it
// knows. A store failure of any other type counts as unconfirmed.
// The directory answered no: nothing of the change is stored.
class Refused : public platform::Error {
public:
    using Error::Error;
};
// The change was sent but no answer came (deadline, lost connection): it may
// be stored or not.
class Unconfirmed : public platform::Error {
public:
    using Error::Error;
};
// The change never left this machine (no connection, could not be sent):
// nothing of it is stored.
class NotSent : public platform::Error {
public:
    using Error::Error;
};

// One attached directory tree, addressed by full names (see full_name.h).
// Every failure raises platform::Error with a message that names the object.
class Tree {
public:
    explicit Tree(QString name) : m_name(std::move(name)) {}
    virtual ~Tree() = default;
    Tree(const Tree &) = delete;
    Tree &operator=(const Tree &) = delete;

    [[nodiscard]] QString name() const { return m_name; }
    [[nodiscard]] QString rootFullName() const;

    // The NDS class name of the object; the tree root is "Top".
    virtual QString className(const QString &fullName) = 0;

    // The object's children whose class is one of `classNames` (all when empty),
    // in a stable order.
    virtual QList<DirectoryObject> children(const QString &fullName, const QStringList &classNames) = 0;

    // Finds the objects of `className` below `baseFullName`, one level or the
    // whole subtree, and hands them to `done`, in a stable order, each with the
    // values of `attribute` (an NDS attribute name such as "OU"; none when
    // empty), and the references met. `done` may run before search() returns
    // or later, from the message pump; on failure it gets an empty list and
    // the failure.
    using SearchDone = std::function<void(const Found &found, std::exception_ptr failure)>;
    virtual void search(const QString &baseFullName, const QString &className, Scope scope,
                        const QString &attribute, SearchDone done) = 0;

    // Ends the searches under way at once (each `done` gets a failure), and
    // tells the directory to drop them. A tree whose searches end before
    // search() returns has none.
    virtual void cancelSearches() {}

    // Replaces the values of one attribute (NDS name, e.g. "OU") by `value`,
    // or removes them all when `value` is empty, and stores the change durably
    // before it returns. A change the directory refuses raises an error.
    virtual void putAndStore(const QString &fullName, const QString &attribute, const QString &value) = 0;

    // Stores `changes` in order and reports each, once it is durable or
    // refused, to `stored` (its index and the failure, or none); sending stops
    // when `stored` returns false. A tree may keep several changes in flight,
    // so changes after a refused one may be stored too, and reported.
    using Stored = std::function<bool(qsizetype index, std::exception_ptr failure)>;
    virtual void storeChanges(const QList<ValueChange> &changes, const Stored &stored) = 0;

    // Whether the directory tells values of an attribute (NDS name, e.g. "OU")
    // apart by letter case, so that a caller compares them as it does; a tree
    // that knows no better compares exactly.
    virtual Qt::CaseSensitivity valueCase(const QString &attribute)
    {
        Q_UNUSED(attribute);
        return Qt::CaseSensitive;
    }

private:
    QString m_name;
};

} // namespace directory
