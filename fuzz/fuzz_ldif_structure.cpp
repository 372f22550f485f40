// The embedded tree, fed with LDIF that is well formed but written in every
// way the format allows: lines folded anywhere (also inside the type and
// right after the colon), base64 values, CR LF line ends, very long values,
// deep trees, and a journal of change records with a torn tail. Such a tree
// always loads, unless a line names a value in another file (":<", however
// folded), which is always refused. Then batches of stores: every change
// reported stored is in memory exactly, and a reload shows exactly what
// memory holds; a refused change leaves its values as they were.
#include "directory/embedded/ldif_tree.h"
#include "platform/error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>

namespace {
std::unique_ptr<QTemporaryDir> folder;

// The files of a failed input stay in the folder for a look.
void require(bool condition, unsigned line = __builtin_LINE())
{
    if (condition)
        return;
    std::fprintf(stderr, "failed at line %u; files in %s\n", line, qPrintable(folder->path()));
    std::abort();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    require(file.write(content) == content.size());
}

// Values that differ in letter case, blanks, script and length, and some
// that must go base64.
QByteArray pickValue(FuzzedDataProvider &in)
{
    static const char *const pool[] = {"8a", "8A", "8a ", " lead", "Lead", "9b", "Abi05a", "\xc3\xa4\x37", ":< file:///x",
                                       "<x", "a:b", "r7a", "R7A", "x"};
    const auto pick = in.ConsumeIntegralInRange<size_t>(0, std::size(pool));
    if (pick < std::size(pool))
        return pool[pick];
    return QByteArray(in.ConsumeIntegralInRange<int>(1, 20000), 'v'); // far longer than a line
}

bool needsBase64(const QByteArray &value)
{
    return value.isEmpty() || value.front() == ' ' || value.front() == ':' || value.front() == '<' || value.back() == ' '
           || std::any_of(value.begin(), value.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// Writes LDIF lines, folding each at places the input picks: anywhere, also
// inside the type, between the colons of a base64 value and in "changetype".
class Writer {
public:
    Writer(FuzzedDataProvider &in, bool crlf) : m_in(in), m_end(crlf ? "\r\n" : "\n") {}

    void line(const QByteArray &text)
    {
        QList<qsizetype> cuts;
        for (int folds = m_in.ConsumeIntegralInRange<int>(0, 3); folds > 0; --folds) {
            const qsizetype cut = m_in.ConsumeIntegralInRange<qsizetype>(1, text.size());
            if (cut < text.size())
                cuts.append(cut);
        }
        std::sort(cuts.begin(), cuts.end());
        qsizetype at = 0;
        for (qsizetype cut : cuts) {
            m_text += text.mid(at, cut - at) + m_end + ' ';
            at = cut;
        }
        m_text += text.mid(at) + m_end;
    }
    void value(const QByteArray &type, const QByteArray &value)
    {
        if (needsBase64(value) || m_in.ConsumeBool())
            line(type + ":: " + value.toBase64());
        else
            line(type + ": " + value);
    }
    // "-", which has nothing to fold.
    void plain(const QByteArray &text) { m_text += text + m_end; }
    void end() { m_text += m_end; }
    [[nodiscard]] QByteArray text() const { return m_text; }

private:
    FuzzedDataProvider &m_in;
    QByteArray m_end;
    QByteArray m_text;
};

struct User {
    QByteArray dn;
};

std::unique_ptr<directory::LdifTree> load(const QString &path)
{
    try {
        return std::make_unique<directory::LdifTree>(QStringLiteral("FUZZ"), path, QString(), directory::SchemaMap());
    } catch (const platform::Error &e) {
        if (qEnvironmentVariableIsSet("FUZZ_VERBOSE"))
            std::fprintf(stderr, "refused: %s\n", qPrintable(e.message()));
        return nullptr;
    }
}

QStringList sorted(QStringList values)
{
    values.sort();
    return values;
}

QList<directory::FoundObject> users(directory::LdifTree &tree)
{
    QList<directory::FoundObject> found;
    tree.search(tree.rootFullName(), QStringLiteral("User"), directory::Scope::Subtree, QStringLiteral("OU"),
                [&](const directory::Found &hits, std::exception_ptr failure) {
                    require(!failure);
                    found = QList<directory::FoundObject>(hits.begin(), hits.end());
                });
    return found;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    const QString shm = QStringLiteral("/dev/shm");
    folder = QDir(shm).exists() ? std::make_unique<QTemporaryDir>(shm + QStringLiteral("/fuzz_structure_XXXXXX"))
                                : std::make_unique<QTemporaryDir>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzedDataProvider in(bytes, size);
    const bool crlf = in.ConsumeBool();
    bool hostile = false;

    // The tree: a chain of containers as deep as the input says, users below them.
    Writer ldif(in, crlf);
    QList<QByteArray> containers{"o=Gym"};
    ldif.line("dn: o=Gym");
    ldif.line("objectClass: organization");
    ldif.line("o: Gym");
    ldif.end();
    const int depth = in.ConsumeIntegralInRange<int>(1, 60);
    for (int i = 0; i < depth; ++i) {
        const QByteArray parent = containers.at(in.ConsumeIntegralInRange<qsizetype>(0, containers.size() - 1));
        const QByteArray name = "C" + QByteArray::number(i);
        containers.append("ou=" + name + ',' + parent);
        ldif.line("dn: " + containers.last());
        ldif.line("objectClass: organizationalUnit");
        ldif.line("ou: " + name);
        ldif.end();
    }
    QList<User> people;
    const int count = in.ConsumeIntegralInRange<int>(1, 20);
    for (int i = 0; i < count; ++i) {
        const QByteArray parent = containers.at(in.ConsumeIntegralInRange<qsizetype>(0, containers.size() - 1));
        const QByteArray cn = "u" + QByteArray::number(i);
        people.append({"cn=" + cn + ',' + parent});
        ldif.value("dn", people.last().dn);
        ldif.line("objectClass: inetOrgPerson");
        ldif.line("cn: " + cn);
        ldif.line("sn: " + cn);
        for (int n = in.ConsumeIntegralInRange<int>(0, 3); n > 0; --n)
            ldif.value(in.ConsumeBool() ? "ou" : "description", pickValue(in));
        if (in.ConsumeIntegralInRange<int>(0, 40) == 0) {
            // Folded anywhere, also between the colon and the "<".
            const QByteArray url = "ou:< file:///etc/hostname";
            const qsizetype cut = in.ConsumeIntegralInRange<qsizetype>(0, 5);
            ldif.line(cut == 0 ? url : url.first(cut) + "\n " + url.sliced(cut));
            hostile = true;
        }
        ldif.end();
    }

    // The journal: change records to the users, the last perhaps torn.
    Writer journal(in, in.ConsumeBool());
    for (int records = in.ConsumeIntegralInRange<int>(0, 8); records > 0; --records) {
        journal.value("dn", people.at(in.ConsumeIntegralInRange<qsizetype>(0, people.size() - 1)).dn);
        journal.line("changetype: modify");
        for (int mods = in.ConsumeIntegralInRange<int>(1, 3); mods > 0; --mods) {
            static const char *const ops[] = {"add", "delete", "replace"};
            const QByteArray type = in.ConsumeBool() ? "ou" : "description";
            const int op = in.ConsumeIntegralInRange<int>(0, 2);
            journal.line(QByteArray(ops[op]) + ": " + type);
            for (int n = in.ConsumeIntegralInRange<int>(op == 0 ? 1 : 0, 2); n > 0; --n)
                journal.value(type, pickValue(in));
            journal.plain("-");
        }
        journal.end();
    }
    QByteArray journalText = journal.text();
    if (!journalText.isEmpty() && in.ConsumeBool())
        journalText.chop(in.ConsumeIntegralInRange<qsizetype>(1, journalText.size()));

    const QString path = folder->filePath(QStringLiteral("tree.ldif"));
    for (const char *suffix : {".journal", ".journal.torn", ".lock"})
        QFile::remove(path + QLatin1String(suffix));
    writeFile(path, ldif.text());
    if (!journalText.isEmpty())
        writeFile(path + QStringLiteral(".journal"), journalText);

    QHash<QString, QStringList> expected; // every user's values after the stores
    {
        const auto tree = load(path);
        require(bool(tree) != hostile);
        if (!tree)
            return 0;
        QList<directory::FoundObject> found = users(*tree);
        if (qEnvironmentVariableIsSet("FUZZ_VERBOSE")) {
            for (const directory::FoundObject &user : std::as_const(found))
                std::fprintf(stderr, "user %s %s: %s\n", qPrintable(user.fullName), qPrintable(user.dn), qPrintable(user.values.join(QLatin1Char('|'))));
            for (const QString &n : qEnvironmentVariable("FUZZ_NAMES").split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
                try {
                    std::fprintf(stderr, "%s: %s / %s / %s\n", qPrintable(n), qPrintable(tree->className(n)), qPrintable(tree->values(n, QStringLiteral("objectClass")).join(QLatin1Char('|'))), qPrintable(tree->values(n, QStringLiteral("ou")).join(QLatin1Char('|'))));
                } catch (const platform::Error &e) {
                    std::fprintf(stderr, "%s: %s\n", qPrintable(n), qPrintable(e.message()));
                }
            }
        }
        require(found.size() == people.size());
        for (int batches = in.ConsumeIntegralInRange<int>(1, 4); batches > 0 && !found.isEmpty(); --batches) {
            // Distinct users in one batch, so that each change's outcome is its own.
            std::shuffle(found.begin(), found.end(), std::minstd_rand(in.ConsumeIntegral<unsigned>()));
            QList<directory::ValueChange> batch;
            for (qsizetype i = 0, n = in.ConsumeIntegralInRange<qsizetype>(1, found.size()); i < n; ++i) {
                directory::ValueChange change{found.at(i).fullName, QStringLiteral("OU"), found.at(i).values, {}};
                if (in.ConsumeIntegralInRange<int>(0, 5) == 0)
                    change.before.append(QString::fromUtf8(pickValue(in))); // not what is there
                for (int n = in.ConsumeIntegralInRange<int>(0, 2); n > 0; --n)
                    change.after.append(QString::fromUtf8(pickValue(in)));
                batch.append(change);
            }
            tree->storeChanges(batch, [&](qsizetype index, std::exception_ptr failure) {
                const directory::ValueChange &change = batch.at(index);
                const QStringList now = tree->values(change.fullName, QStringLiteral("ou"));
                require(sorted(now) == sorted(failure ? found.at(index).values : change.after));
                return true;
            });
            found = users(*tree);
        }
        for (const directory::FoundObject &user : std::as_const(found))
            expected.insert(user.fullName, sorted(user.values));
    }
    const auto reloaded = load(path);
    require(reloaded != nullptr);
    const QList<directory::FoundObject> again = users(*reloaded);
    require(again.size() == expected.size());
    for (const directory::FoundObject &user : again)
        require(sorted(user.values) == expected.value(user.fullName));
    return 0;
}
