#pragma once

#include "directory/client.h"
#include "platform/error.h"
#include "runs/class_list.h"
#include "runs/plan.h"

#include <QString>
#include <QTextStream>

#include <memory>

// What every command needs: the attached tree, the context, the class list,
// the users below the context, and the terminal.
namespace cli {

// A usage or attach error: exit code 2.
class UsageError : public platform::Error {
public:
    using platform::Error::Error;
};

QTextStream &out();
QTextStream &err();

// Asks a yes/no question on the terminal; raises a UsageError when stdin is none.
bool confirm(const QString &question);

class Session {
public:
    // Attaches `treeName`, or the only attached tree when it is empty.
    explicit Session(const QString &treeName);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;
    // Whether a tree of that name is attached, without loading it.
    static bool attached(const QString &treeName);

    [[nodiscard]] directory::Tree &tree() { return *m_tree; }
    [[nodiscard]] QString treeName() const { return m_tree->name(); }
    [[nodiscard]] QString source() const;
    [[nodiscard]] QString base() const;
    [[nodiscard]] QString identity() { return m_client->identity(treeName()); }
    [[nodiscard]] QString attribute() const; // the directory's name of "OU"
    // The server's kind and the defaults it took (LDAP trees only, else empty).
    [[nodiscard]] QString serverDescription() const;
    // How the directory compares the values of "OU".
    [[nodiscard]] Qt::CaseSensitivity valueCase() { return m_tree->valueCase(QStringLiteral("OU")); }

    // The warning for a context that has children but yields no users, with
    // what it holds instead, and whether the class map may not fit the
    // server; else empty.
    QString noUsersWarning(const QString &context, qsizetype users);

    // A full name for a dotted name (Abi05a.Gym), a full name or a DN. A
    // text with "=" may be either (a class named "x=y"): the one that names
    // an object is taken; when both do, it is refused as ambiguous.
    QString resolveContext(const QString &context);

    // The objects of `className` below `base`, each with the values of
    // `attribute` (an NDS name). Warns of each part of the tree it could not look into.
    QList<runs::FoundUser> search(const QString &base, const QString &className, bool subtree,
                                  const QString &attribute = QStringLiteral("OU"));
    // The references the searches met, and whether one may hold users.
    [[nodiscard]] QList<directory::Reference> references() const { return m_references; }
    [[nodiscard]] static bool partsUnsearched();

private:
    std::unique_ptr<directory::Client> m_client;
    directory::Tree *m_tree = nullptr;
    QList<directory::Reference> m_references;
};

// The class list at `path`, else where the window finds it (beside the
// program, then in the user's and the system's configuration folders). None
// found gives an empty list without a path; for a form that needs one (1 to
// 3) that is a UsageError saying where it was looked for.
runs::ClassList classListAt(const QString &path, int form = 0);

// Where the class list is looked for, in that order.
QString classListPlaces();

} // namespace cli
