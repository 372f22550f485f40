#pragma once

#include "directory/schema_map.h"
#include "directory/tree.h"

#include <memory>

namespace directory {

// The embedded directory: an LDIF file held in memory. Every stored change is
// appended to a journal beside the file (<file>.journal, LDIF change records
// that ldapmodify can apply), and loading replays it. A lock beside the file
// (<file>.lock) keeps a second program off the same tree; a crashed program's
// lock does not block the next start.
class LdifTree final : public Tree {
public:
    // Loads the file and its journal; raises an error naming the file and the
    // line of the first malformed record, never leaving a half-loaded tree.
    LdifTree(const QString &name, const QString &ldifPath, const QString &baseDn, const SchemaMap &schema);
    ~LdifTree() override;

    // What loading had to report without failing (a torn journal record).
    [[nodiscard]] QStringList warnings() const;
    [[nodiscard]] QString journalPath() const;

    QString className(const QString &fullName) override;
    QList<DirectoryObject> children(const QString &fullName, const QStringList &classNames) override;
    void search(const QString &baseFullName, const QString &className, Scope scope, const QString &attribute,
                SearchDone done) override;
    void putAndStore(const QString &fullName, const QString &attribute, const QString &value) override;
    void storeChanges(const QList<ValueChange> &changes, const Stored &stored) override;
    // ou and department ignore case, as on LDAP servers.
    Qt::CaseSensitivity valueCase(const QString &attribute) override;

    // The stored values of one LDAP attribute, for inspection and tests.
    [[nodiscard]] QStringList values(const QString &fullName, const QString &ldapAttribute);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace directory
