#include "runs/run_record.h"

#include "directory/embedded/ldif.h"
#include "directory/embedded/ldif_files.h"
#include "directory/tree.h"
#include "platform/durable.h"
#include "platform/error.h"
#include "platform/owned_path.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>

#include <gnutls/crypto.h>

#ifndef Q_OS_WIN
#include <pwd.h>
#include <unistd.h>
#endif

namespace runs {

namespace {

const QByteArray kFirstLine = "# klassomat run record\n";

struct OutcomeName {
    Outcome outcome;
    const char *name;
};
constexpr OutcomeName kOutcomes[] = {
    {Outcome::Unconfirmed, "unconfirmed"}, {Outcome::Written, "written"}, {Outcome::Unchanged, "unchanged"},
    {Outcome::Refused, "refused"}, {Outcome::Skipped, "skipped"}, {Outcome::NotTried, "not-tried"},
};

const char *nameOf(Outcome outcome)
{
    for (const OutcomeName &entry : kOutcomes) {
        if (entry.outcome == outcome)
            return entry.name;
    }
    return "unconfirmed";
}

// An outcome the reader does not know was not confirmed either.
Outcome outcomeFrom(const QString &name)
{
    for (const OutcomeName &entry : kOutcomes) {
        if (name == QLatin1String(entry.name))
            return entry.outcome;
    }
    return Outcome::Unconfirmed;
}

const QByteArray kSumKey = "# sum: ";

// GnuTLS's SHA-256 runs on the processor's SHA instructions where it has them:
// a run of ten thousand users spent a twentieth of its time in Qt's.
QByteArray chained(const QByteArray &previous, const QByteArray &body)
{
    gnutls_hash_hd_t hash = nullptr;
    unsigned char digest[32];
    if (gnutls_hash_init(&hash, GNUTLS_DIG_SHA256) != 0 || gnutls_hash(hash, previous.constData(), previous.size()) != 0
        || gnutls_hash(hash, body.constData(), body.size()) != 0) {
        if (hash)
            gnutls_hash_deinit(hash, nullptr);
        throw platform::Error(QStringLiteral("Die Prüfsumme des Laufprotokolls kann nicht berechnet werden"));
    }
    gnutls_hash_deinit(hash, digest);
    return QByteArray::fromRawData(reinterpret_cast<const char *>(digest), sizeof digest).toHex();
}

// A value that an LDIF reader or a person could misread goes base64-encoded.
bool plain(const QString &value)
{
    if (value.startsWith(QLatin1Char(' ')) || value.startsWith(QLatin1Char(':')) || value.endsWith(QLatin1Char(' ')))
        return false;
    return std::none_of(value.cbegin(), value.cend(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
}

void comment(QByteArray &out, const char *key, const QString &value)
{
    out += "# ";
    out += key;
    if (plain(value)) {
        out += ": ";
        out += value.toUtf8();
    } else {
        out += ":: ";
        out += value.toUtf8().toBase64();
    }
    out += '\n';
}

struct Comment {
    QString key;
    QString value;
};

std::optional<Comment> parseComment(const QByteArray &line)
{
    const QByteArray body = line.mid(1).trimmed();
    const qsizetype colon = body.indexOf(':');
    if (colon < 0)
        return std::nullopt;
    Comment c{QString::fromUtf8(body.left(colon)), {}};
    if (body.mid(colon + 1).startsWith(':'))
        c.value = QString::fromUtf8(QByteArray::fromBase64(body.mid(colon + 2).trimmed()));
    else
        c.value = QString::fromUtf8(body.mid(colon + 1).trimmed());
    return c;
}

QString currentUser()
{
#ifndef Q_OS_WIN
    if (const passwd *entry = ::getpwuid(::getuid()))
        return QString::fromLocal8Bit(entry->pw_name);
#endif
    const QString user = qEnvironmentVariable("USER", qEnvironmentVariable("USERNAME"));
    return user.isEmpty() ? QStringLiteral("?") : user;
}

} // namespace

QString outcomeName(Outcome outcome)
{
    return QLatin1String(nameOf(outcome));
}

QString outcomeText(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Unconfirmed:
        return QStringLiteral("unbestätigt");
    case Outcome::Written:
        return QStringLiteral("geschrieben");
    case Outcome::Unchanged:
        return QStringLiteral("unverändert");
    case Outcome::Refused:
        return QStringLiteral("abgelehnt");
    case Outcome::Skipped:
        return QStringLiteral("übersprungen");
    case Outcome::NotTried:
        return QStringLiteral("nicht versucht");
    }
    return {};
}

int RecordedRun::count(Outcome outcome) const
{
    return static_cast<int>(std::count_if(users.cbegin(), users.cend(), [outcome](const RecordedUser &u) { return u.outcome == outcome; }));
}

QString runsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/runs");
}

void ensureRunsFolder(const QString &folder)
{
    if (folder == runsFolder())
        platform::ensureOwnedFolder(QFileInfo(folder).absolutePath()); // the data folder
    platform::ensureOwnedFolder(folder);
}

RunRecordWriter::RunRecordWriter(const QString &folder, RunHeader header)
    : m_header(std::move(header))
{
    ensureRunsFolder(folder);
    m_header.who = currentUser();
    m_header.when = QDateTime::currentDateTimeUtc();
    const QString stamp = m_header.when.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    for (int n = 1;; ++n) {
        m_header.id = n == 1 ? stamp : QStringLiteral("%1-%2").arg(stamp).arg(n);
        m_file.setFileName(QDir(folder).filePath(m_header.id + QStringLiteral(".ldif")));
        // Unbuffered: a write that fails says why (errno) at once, not at a later flush.
        if (m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered, QFile::ReadOwner | QFile::WriteOwner))
            break;
        if (!m_file.exists() || n > 1000)
            throw platform::Error(QStringLiteral("Laufprotokoll %1 kann nicht angelegt werden: %2")
                                      .arg(m_file.fileName(), m_file.errorString()));
    }
    if (!platform::syncFolderOf(m_file.fileName()))
        throw platform::Error(QStringLiteral("Laufprotokoll %1 kann nicht auf die Platte geschrieben werden").arg(m_file.fileName()));

    write(kFirstLine);
    QByteArray out;
    comment(out, "id", m_header.id);
    comment(out, "kind", m_header.kind);
    if (!m_header.undoes.isEmpty())
        comment(out, "undoes", m_header.undoes);
    comment(out, "who", m_header.who);
    comment(out, "when", m_header.when.toString(Qt::ISODateWithMs));
    comment(out, "tree", m_header.tree);
    comment(out, "server", m_header.server);
    comment(out, "base", m_header.base);
    if (!m_header.identity.isEmpty())
        comment(out, "identity", m_header.identity);
    comment(out, "context", m_header.context);
    comment(out, "scope", m_header.subtree ? QStringLiteral("subtree") : QStringLiteral("one level"));
    comment(out, "form", QString::number(m_header.form));
    comment(out, "classes", m_header.classesPath);
    comment(out, "classes-sha256", m_header.classesSha256);
    comment(out, "attribute", m_header.attribute);
    block(out);
    sync();
}

RunRecordWriter::~RunRecordWriter()
{
    try {
        writeOutcomes(); // what is known goes into the file, even when the run ends by an error
    } catch (const platform::Error &) {
        // the run's error says what happened; the users stay unconfirmed
    }
}

void RunRecordWriter::block(const QByteArray &body)
{
    const QByteArray sum = chained(m_sum, body);
    QByteArray bytes;
    bytes.reserve(kSumKey.size() + sum.size() + body.size() + 2);
    bytes += kSumKey;
    bytes += sum;
    bytes += '\n';
    bytes += body;
    bytes += '\n';
    write(bytes);
    m_sum = sum; // a block that did not get written is not in the chain
}

void RunRecordWriter::writeOutcomes()
{
    if (m_outcomes.isEmpty())
        return;
    block(m_outcomes);
    m_outcomes.clear();
}

void RunRecordWriter::write(const QByteArray &bytes)
{
#ifdef Q_OS_UNIX
    if (directory::files::writeAll(m_file.handle(), bytes.constData(), bytes.size())) {
        m_size += bytes.size();
        return;
    }
    const int error = errno;
    // A part of a block would leave the record cut inside a line: it goes,
    // and the record ends after its last whole block.
    if (::ftruncate(m_file.handle(), static_cast<off_t>(m_size)) == 0)
        (void)platform::syncFile(m_file.handle());
    throw platform::Error(directory::files::failure(QStringLiteral("Laufprotokoll %1 kann nicht geschrieben werden"), m_file.fileName(), error));
#else
    if (m_file.write(bytes) != bytes.size())
        throw platform::Error(QStringLiteral("Laufprotokoll %1 kann nicht geschrieben werden: %2")
                                  .arg(m_file.fileName(), m_file.errorString()));
#endif
}

void RunRecordWriter::sync()
{
    if (!platform::syncFile(m_file.handle())) {
#ifdef Q_OS_UNIX
        throw platform::Error(directory::files::failure(QStringLiteral("Laufprotokoll %1 kann nicht auf die Platte geschrieben werden"),
                                                        m_file.fileName(), errno));
#else
        throw platform::Error(QStringLiteral("Laufprotokoll %1 kann nicht auf die Platte geschrieben werden").arg(m_file.fileName()));
#endif
    }
    // A record deleted or replaced meanwhile takes nothing back: no change
    // may go out on the strength of it.
    if (!platform::stillNames(m_file.fileName(), m_file.handle()))
        throw platform::Error(QStringLiteral("Laufprotokoll %1 wurde gelöscht oder ersetzt, während klassomat lief; "
                                             "keine weitere Änderung wird gesendet")
                                  .arg(m_file.fileName()));
}

namespace {
QByteArray userBlock(const RecordedUser &user)
{
    QByteArray out;
    comment(out, "user", QString::number(user.index));
    comment(out, "fullname", user.fullName);
    if (!user.identity.isEmpty())
        comment(out, "entry-identity", user.identity);
    for (const QString &value : user.before)
        comment(out, "old", value);
    for (const QString &value : user.after)
        comment(out, "new", value);
    return out;
}
} // namespace

QByteArray changeRecord(const QString &dn, const QByteArray &type, const QStringList &before, const QStringList &after)
{
    const auto [removed, added] = directory::difference(before, after);
    return directory::ldif::replaceRecord(dn.toUtf8(), type, removed, added);
}

void RunRecordWriter::ahead(const QList<RecordedUser> &users)
{
    writeOutcomes();
    const QByteArray type = m_header.attribute.toUtf8();
    for (const RecordedUser &user : users) {
        QByteArray body = userBlock(user);
        body += changeRecord(user.dn, type, user.before, user.after);
        body.chop(1); // block() ends it
        block(body);
    }
    sync();
}

void RunRecordWriter::outcome(int index, Outcome outcome, const QString &message)
{
    if (!message.isEmpty()) {
        comment(m_outcomes, "result", QStringLiteral("%1 %2: %3").arg(index).arg(outcomeName(outcome), message));
        return;
    }
    // The common line, a hundred thousand times in a large run, without a detour through text.
    m_outcomes += "# result: ";
    m_outcomes += QByteArray::number(index);
    m_outcomes += ' ';
    m_outcomes += nameOf(outcome);
    m_outcomes += '\n';
}

void RunRecordWriter::notSent(const RecordedUser &user)
{
    QByteArray out = userBlock(user);
    comment(out, "dn", user.dn);
    block(out);
    this->outcome(user.index, user.outcome, user.message);
}

void RunRecordWriter::finish()
{
    end({});
}

void RunRecordWriter::finishCancelled(int notTried)
{
    QByteArray out;
    comment(out, "cancelled", QString::number(notTried));
    end(out);
}

void RunRecordWriter::end(const QByteArray &more)
{
    writeOutcomes();
    QByteArray out = more;
    comment(out, "ended", QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    block(out);
    sync();
}

namespace {

QStringList texts(const QList<QByteArray> &values)
{
    QStringList out;
    for (const QByteArray &value : values)
        out.append(QString::fromUtf8(value));
    return out;
}

bool sameSet(QStringList a, QStringList b)
{
    a.sort();
    b.sort();
    return a == b;
}

// Reads the change record below a user's comments, and whether it does what
// the comments say.
void readChange(RecordedUser &user, const QByteArray &ldif, const QString &path, int line)
{
    QByteArray text = ldif;
    QBuffer buffer(&text);
    buffer.open(QIODevice::ReadOnly);
    try {
        directory::ldif::forEachRecord(buffer, text.size(), path, [&](const directory::ldif::Record &record) {
            user.dn = QString::fromUtf8(record.dn);
            for (const directory::ldif::Modification &m : record.modifications) {
                QStringList &into = m.op == directory::ldif::Modification::Op::Delete ? user.removed : user.added;
                for (const QByteArrayView value : m.values)
                    into.append(QString::fromUtf8(value));
            }
        });
    } catch (const platform::Error &e) {
        throw platform::Error(QStringLiteral("Laufprotokoll %1, Zeile %2: %3").arg(path).arg(line).arg(e.message()));
    }
    const auto [removed, added] = directory::difference(user.before, user.after);
    user.agrees = sameSet(texts(removed), user.removed) && sameSet(texts(added), user.added);
}

} // namespace

namespace {

// One block of a record: its comments, its change record, and the text its sum covers.
struct Block {
    QByteArray sum;  // as the file gives it
    QByteArray body; // every line but the sum's
    QByteArray ldif; // the change record, when it has one
    QList<Comment> comments;
};

Block parseBlock(const QByteArray &text)
{
    Block block;
    for (const QByteArray &line : text.split('\n')) {
        if (line.isEmpty())
            continue;
        if (line.startsWith(kSumKey.trimmed()) && block.sum.isEmpty()) {
            block.sum = line.mid(kSumKey.size()).trimmed();
            continue;
        }
        block.body += line + '\n';
        if (!line.startsWith('#'))
            block.ldif += line + '\n';
        else if (const std::optional<Comment> c = parseComment(line))
            block.comments.append(*c);
    }
    return block;
}

// A header line; a key it does not know is left alone.
void readHeader(RunHeader &h, const Comment &c)
{
    const QString &key = c.key;
    if (key == QLatin1String("id"))
        h.id = c.value;
    else if (key == QLatin1String("kind"))
        h.kind = c.value;
    else if (key == QLatin1String("undoes"))
        h.undoes = c.value;
    else if (key == QLatin1String("who"))
        h.who = c.value;
    else if (key == QLatin1String("when"))
        h.when = QDateTime::fromString(c.value, Qt::ISODate);
    else if (key == QLatin1String("tree"))
        h.tree = c.value;
    else if (key == QLatin1String("server"))
        h.server = c.value;
    else if (key == QLatin1String("base"))
        h.base = c.value;
    else if (key == QLatin1String("identity"))
        h.identity = c.value;
    else if (key == QLatin1String("context"))
        h.context = c.value;
    else if (key == QLatin1String("scope"))
        h.subtree = c.value == QLatin1String("subtree");
    else if (key == QLatin1String("form"))
        h.form = c.value.toInt();
    else if (key == QLatin1String("classes"))
        h.classesPath = c.value;
    else if (key == QLatin1String("classes-sha256"))
        h.classesSha256 = c.value;
    else if (key == QLatin1String("attribute"))
        h.attribute = c.value;
}

// A line of a user's block; false when `c` is none of its keys.
bool readUser(RecordedUser &user, const Comment &c)
{
    if (c.key == QLatin1String("fullname"))
        user.fullName = c.value;
    else if (c.key == QLatin1String("entry-identity"))
        user.identity = c.value;
    else if (c.key == QLatin1String("old"))
        user.before.append(c.value);
    else if (c.key == QLatin1String("new"))
        user.after.append(c.value);
    else if (c.key == QLatin1String("dn"))
        user.dn = c.value;
    else
        return false;
    return true;
}

// "# result: 7 refused: message" gives user 7 its outcome.
void readResult(RecordedRun &run, const QHash<int, qsizetype> &byIndex, const QString &value)
{
    const auto it = byIndex.constFind(value.section(QLatin1Char(' '), 0, 0).toInt());
    if (it == byIndex.cend())
        return;
    const QString rest = value.section(QLatin1Char(' '), 1);
    RecordedUser &target = run.users[*it];
    target.outcome = outcomeFrom(rest.section(QLatin1Char(':'), 0, 0));
    target.message = rest.section(QLatin1Char(':'), 1).trimmed();
}

} // namespace

RecordedRun readRunRecord(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw platform::Error(QStringLiteral("Laufprotokoll %1 kann nicht gelesen werden: %2").arg(path, file.errorString()));
    const QByteArray data = file.readAll();
    if (!data.startsWith(kFirstLine))
        throw platform::Error(QStringLiteral("%1, Zeile 1: kein Laufprotokoll von klassomat").arg(path));

    RecordedRun run;
    run.path = path;
    QHash<int, qsizetype> byIndex;
    QByteArray sum;
    int line = 2;
    // Blocks end in a blank line, as LDIF records do. A last block without
    // one was torn by a run that ended while writing it: never synced, so
    // never sent.
    qsizetype start = kFirstLine.size();
    while (start < data.size()) {
        const qsizetype end = data.indexOf("\n\n", start);
        if (end < 0)
            break;
        const QByteArray text = data.mid(start, end - start + 1);
        const int blockLine = line;
        line += static_cast<int>(text.count('\n')) + 1;
        start = end + 2;
        const Block block = parseBlock(text);
        sum = chained(sum, block.body);
        if (block.sum != sum && run.damage.isEmpty())
            run.damage = QStringLiteral("Zeile %1: die Prüfsumme stimmt nicht, das Protokoll wurde geändert oder gekürzt").arg(blockLine);
        RecordedUser *user = nullptr;
        for (const Comment &c : block.comments) {
            if (c.key == QLatin1String("user")) {
                byIndex.insert(c.value.toInt(), run.users.size());
                run.users.append(RecordedUser());
                user = &run.users.last();
                user->index = c.value.toInt();
                user->line = blockLine;
                continue;
            }
            if (user && readUser(*user, c))
                continue;
            if (c.key == QLatin1String("result")) {
                readResult(run, byIndex, c.value);
            } else if (c.key == QLatin1String("ended")) {
                run.ended = true;
            } else if (c.key == QLatin1String("cancelled")) {
                run.cancelled = true;
                run.notTried = c.value.toInt();
            } else {
                readHeader(run.header, c);
            }
        }
        if (!block.ldif.isEmpty()) {
            if (!user)
                throw platform::Error(QStringLiteral("Laufprotokoll %1, Zeile %2: eine Änderung ohne Benutzer").arg(path).arg(blockLine));
            readChange(*user, block.ldif, path, blockLine);
        }
    }
    if (run.header.id.isEmpty())
        throw platform::Error(QStringLiteral("%1, Zeile 2: kein Laufprotokoll von klassomat (die Kennung fehlt)").arg(path));
    return run;
}

QList<RecordedRun> listRunRecords(const QString &folder, QStringList *problems)
{
    ensureRunsFolder(folder);
    QList<RecordedRun> runs;
    // Symbolic links are listed too, so that they are named and refused.
    const QStringList names = QDir(folder).entryList({QStringLiteral("*.ldif")}, QDir::Files | QDir::System, QDir::Name);
    for (const QString &name : names) {
        try {
            const QString path = QDir(folder).filePath(name);
            platform::requireOwnedFile(path);
            runs.append(readRunRecord(path));
        } catch (const platform::Error &e) {
            if (problems)
                problems->append(e.message());
        }
    }
    std::stable_sort(runs.begin(), runs.end(), [](const RecordedRun &a, const RecordedRun &b) { return a.header.when < b.header.when; });
    return runs;
}

RecordedRun findRunRecord(const QString &folder, const QString &idOrPath)
{
    QString path = idOrPath;
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) {
        ensureRunsFolder(folder);
        path = QDir(folder).filePath(idOrPath + QStringLiteral(".ldif"));
        if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
            throw platform::Error(QStringLiteral("Kein Laufprotokoll %1 in %2").arg(idOrPath, folder));
    }
    platform::requireOwnedFile(path);
    return readRunRecord(path);
}

QString undoneBy(const QList<RecordedRun> &records, const QString &id)
{
    for (const RecordedRun &record : records) {
        if (record.ended && record.header.kind == QLatin1String("undo") && record.header.undoes == id)
            return record.header.id;
    }
    return {};
}

} // namespace runs
