// The embedded tree: load any LDIF file with any journal, store a value into
// the users it finds, and load again. Loading may refuse the input, but never
// crash; and once loaded, what was stored must come back exactly, so a store
// never leaves a journal that cannot be read again.
//
// Input: LDIF text, optionally followed by "\n@@journal@@\n" and the journal,
// and by "\n@@value@@\n" and the value to store.
#include "directory/embedded/ldif_tree.h"
#include "platform/error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>

namespace {
std::unique_ptr<QTemporaryDir> folder;

void require(bool condition)
{
    if (!condition)
        std::abort();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    require(file.write(content) == content.size());
}

QByteArray takeTail(QByteArray &data, const QByteArray &separator, const QByteArray &fallback)
{
    const qsizetype at = data.indexOf(separator);
    if (at < 0)
        return fallback;
    const QByteArray tail = data.mid(at + separator.size());
    data.truncate(at);
    return tail;
}

std::unique_ptr<directory::LdifTree> load(const QString &path)
{
    try {
        return std::make_unique<directory::LdifTree>(QStringLiteral("FUZZ"), path, QString(), directory::SchemaMap());
    } catch (const platform::Error &) {
        return nullptr;
    }
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    // Memory-backed when possible: every store is flushed to disk.
    const QString shm = QStringLiteral("/dev/shm");
    folder = QDir(shm).exists() ? std::make_unique<QTemporaryDir>(shm + QStringLiteral("/fuzz_ldif_XXXXXX"))
                                : std::make_unique<QTemporaryDir>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    QByteArray ldif(reinterpret_cast<const char *>(bytes), static_cast<qsizetype>(size));
    const QString value = QString::fromUtf8(takeTail(ldif, "\n@@value@@\n", "8a"));
    const QByteArray journal = takeTail(ldif, "\n@@journal@@\n", QByteArray());

    const QString path = folder->filePath(QStringLiteral("tree.ldif"));
    for (const char *suffix : {".journal", ".journal.torn", ".lock"})
        QFile::remove(path + QLatin1String(suffix));
    writeFile(path, ldif);
    if (!journal.isEmpty())
        writeFile(path + QStringLiteral(".journal"), journal);

    QStringList stored;
    {
        const auto tree = load(path);
        if (!tree)
            return 0;
        QList<directory::FoundObject> users;
        tree->search(tree->rootFullName(), QStringLiteral("User"), directory::Scope::Subtree, QStringLiteral("OU"),
                     [&](const directory::Found &found, std::exception_ptr) { users = QList<directory::FoundObject>(found.begin(), found.end()); });
        for (const directory::FoundObject &user : std::as_const(users).first(qMin(users.size(), qsizetype(3)))) {
            try {
                tree->putAndStore(user.fullName, QStringLiteral("OU"), value);
                stored.append(user.fullName);
            } catch (const platform::Error &) {
                // a name that names two objects is refused, and nothing is written
            }
        }
    }
    const auto reloaded = load(path);
    require(reloaded != nullptr);
    const QStringList expected = value.isEmpty() ? QStringList() : QStringList{value};
    for (const QString &fullName : std::as_const(stored))
        require(reloaded->values(fullName, QStringLiteral("ou")) == expected);
    return 0;
}
