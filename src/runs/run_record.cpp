#include "runs/run_record.h"

#include "directory/ldif.h"
#include "directory/tree.h"
#include "platform/durable.h"
#include "platform/error.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>

#include <algorithm>

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
    {Outcome::Unknown, "unknown"}, {Outcome::Written, "written"}, {Outcome::Unchanged, "unchanged"},
    {Outcome::Refused, "refused"}, {Outcome::Skipped, "skipped"}, {Outcome::NotTried, "not-tried"},
};

Outcome outcomeFrom(const QString &name)
{
    for (const OutcomeName &entry : kOutcomes) {
        if (name == QLatin1String(entry.name))
            return entry.outcome;
    }
    return Outcome::Unknown;
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
    if (plain(value))
        out += ": " + value.toUtf8();
    else
        out += ":: " + value.toUtf8().toBase64();
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
    for (const OutcomeName &entry : kOutcomes) {
        if (entry.outcome == outcome)
            return QLatin1String(entry.name);
    }
    return QStringLiteral("unknown");
}

int RecordedRun::count(Outcome outcome) const
{
    return static_cast<int>(std::count_if(users.cbegin(), users.cend(), [outcome](const RecordedUser &u) { return u.outcome == outcome; }));
}

QString runsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QStringLiteral("/runs");
}

RunRecordWriter::RunRecordWriter(const QString &folder, RunHeader header)
    : m_header(std::move(header))
{
    if (!QDir().mkpath(folder))
        throw platform::Error(QStringLiteral("Der Ordner %1 für die Laufprotokolle kann nicht angelegt werden").arg(folder));
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_header.who = currentUser();
    m_header.when = QDateTime::currentDateTimeUtc();
    const QString stamp = m_header.when.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    for (int n = 1;; ++n) {
        m_header.id = n == 1 ? stamp : QStringLiteral("%1-%2").arg(stamp).arg(n);
        m_file.setFileName(QDir(folder).filePath(m_header.id + QStringLiteral(".ldif")));
        if (m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFile::ReadOwner | QFile::WriteOwner))
            break;
        if (!m_file.exists() || n > 1000)
            throw platform::Error(QStringLiteral("Laufprotokoll %1 kann nicht angelegt werden: %2")
                                      .arg(m_file.fileName(), m_file.errorString()));
    }
    if (!platform::syncFolderOf(m_file.fileName()))
        throw platform::Error(QStringLiteral("Laufprotokoll %1 kann nicht auf die Platte geschrieben werden").arg(m_file.fileName()));

    QByteArray out = kFirstLine;
    comment(out, "id", m_header.id);
    comment(out, "kind", m_header.kind);
    if (!m_header.undoes.isEmpty())
        comment(out, "undoes", m_header.undoes);
    comment(out, "who", m_header.who);
    comment(out, "when", m_header.when.toString(Qt::ISODateWithMs));
    comment(out, "tree", m_header.tree);
    comment(out, "server", m_header.server);
    comment(out, "context", m_header.context);
    comment(out, "scope", m_header.subtree ? QStringLiteral("subtree") : QStringLiteral("one level"));
    comment(out, "form", QString::number(m_header.form));
    comment(out, "classes", m_header.classesPath);
    comment(out, "classes-sha256", m_header.classesSha256);
    comment(out, "attribute", m_header.attribute);
    write(out + '\n');
    sync();
}

RunRecordWriter::~RunRecordWriter() = default;

void RunRecordWriter::write(const QByteArray &bytes)
{
    if (m_file.write(bytes) != bytes.size())
        throw platform::Error(QStringLiteral("Laufprotokoll %1 kann nicht geschrieben werden: %2")
                                  .arg(m_file.fileName(), m_file.errorString()));
}

void RunRecordWriter::sync()
{
    if (!m_file.flush() || !platform::syncFile(m_file.handle()))
        throw platform::Error(QStringLiteral("Laufprotokoll %1 kann nicht auf die Platte geschrieben werden: %2")
                                  .arg(m_file.fileName(), m_file.errorString()));
}

namespace {
QByteArray userBlock(const RecordedUser &user)
{
    QByteArray out;
    comment(out, "user", QString::number(user.index));
    comment(out, "fullname", user.fullName);
    for (const QString &value : user.before)
        comment(out, "old", value);
    for (const QString &value : user.after)
        comment(out, "new", value);
    return out;
}
} // namespace

void RunRecordWriter::ahead(const QList<RecordedUser> &users)
{
    const QByteArray type = m_header.attribute.toUtf8();
    QByteArray out;
    for (const RecordedUser &user : users) {
        out += userBlock(user);
        const auto [removed, added] = directory::difference(user.before, user.after);
        // Deleting exactly the old values makes ldapmodify refuse the change
        // when someone has changed them meanwhile.
        out += directory::ldif::replaceRecord(user.dn.toUtf8(), type, removed, added);
    }
    write(out);
    sync();
}

void RunRecordWriter::outcome(int index, Outcome outcome, const QString &message)
{
    QByteArray out;
    comment(out, "result", QString::number(index) + QLatin1Char(' ') + outcomeName(outcome)
                               + (message.isEmpty() ? QString() : QStringLiteral(": ") + message));
    write(out + '\n');
}

void RunRecordWriter::notSent(const RecordedUser &user)
{
    QByteArray out = userBlock(user);
    comment(out, "dn", user.dn);
    write(out + '\n');
    this->outcome(user.index, user.outcome, user.message);
}

void RunRecordWriter::finish()
{
    QByteArray out;
    comment(out, "ended", QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    write(out + '\n');
    sync();
}

RecordedRun readRunRecord(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw platform::Error(QStringLiteral("Laufprotokoll %1 kann nicht gelesen werden: %2").arg(path, file.errorString()));
    const QByteArray data = file.readAll();
    if (!data.startsWith(kFirstLine))
        throw platform::Error(QStringLiteral("%1 ist kein Laufprotokoll von klassomat").arg(path));

    RecordedRun run;
    run.path = path;
    QHash<int, qsizetype> byIndex;
    // Blocks end in a blank line, as LDIF records do.
    qsizetype start = 0;
    while (start < data.size()) {
        qsizetype end = data.indexOf("\n\n", start);
        if (end < 0)
            end = data.size();
        const QByteArray block = data.mid(start, end - start);
        start = end + 2;
        QByteArray ldif;
        QList<Comment> comments;
        for (const QByteArray &line : block.split('\n')) {
            if (line.startsWith('#')) {
                if (const std::optional<Comment> c = parseComment(line))
                    comments.append(*c);
            } else if (!line.isEmpty()) {
                ldif += line + '\n';
            }
        }
        RecordedUser *user = nullptr;
        for (const Comment &c : comments) {
            RunHeader &h = run.header;
            if (c.key == QLatin1String("user")) {
                byIndex.insert(c.value.toInt(), run.users.size());
                run.users.append(RecordedUser());
                user = &run.users.last();
                user->index = c.value.toInt();
            } else if (user && c.key == QLatin1String("fullname")) {
                user->fullName = c.value;
            } else if (user && c.key == QLatin1String("old")) {
                user->before.append(c.value);
            } else if (user && c.key == QLatin1String("new")) {
                user->after.append(c.value);
            } else if (user && c.key == QLatin1String("dn")) {
                user->dn = c.value;
            } else if (c.key == QLatin1String("result")) {
                const int index = c.value.section(QLatin1Char(' '), 0, 0).toInt();
                const QString rest = c.value.section(QLatin1Char(' '), 1);
                const auto it = byIndex.constFind(index);
                if (it == byIndex.cend())
                    continue;
                RecordedUser &target = run.users[*it];
                target.outcome = outcomeFrom(rest.section(QLatin1Char(':'), 0, 0));
                target.message = rest.section(QLatin1Char(':'), 1).trimmed();
            } else if (c.key == QLatin1String("id")) {
                h.id = c.value;
            } else if (c.key == QLatin1String("kind")) {
                h.kind = c.value;
            } else if (c.key == QLatin1String("undoes")) {
                h.undoes = c.value;
            } else if (c.key == QLatin1String("who")) {
                h.who = c.value;
            } else if (c.key == QLatin1String("when")) {
                h.when = QDateTime::fromString(c.value, Qt::ISODate);
            } else if (c.key == QLatin1String("tree")) {
                h.tree = c.value;
            } else if (c.key == QLatin1String("server")) {
                h.server = c.value;
            } else if (c.key == QLatin1String("context")) {
                h.context = c.value;
            } else if (c.key == QLatin1String("scope")) {
                h.subtree = c.value == QLatin1String("subtree");
            } else if (c.key == QLatin1String("form")) {
                h.form = c.value.toInt();
            } else if (c.key == QLatin1String("classes")) {
                h.classesPath = c.value;
            } else if (c.key == QLatin1String("classes-sha256")) {
                h.classesSha256 = c.value;
            } else if (c.key == QLatin1String("attribute")) {
                h.attribute = c.value;
            } else if (c.key == QLatin1String("ended")) {
                run.ended = true;
            }
        }
        if (!ldif.isEmpty() && user) {
            QBuffer buffer(&ldif);
            buffer.open(QIODevice::ReadOnly);
            directory::ldif::forEachRecord(buffer, ldif.size(), path, [&](const directory::ldif::Record &record) {
                user->dn = QString::fromUtf8(record.dn);
            });
        }
    }
    if (run.header.id.isEmpty())
        throw platform::Error(QStringLiteral("%1 ist kein Laufprotokoll von klassomat").arg(path));
    return run;
}

QList<RecordedRun> listRunRecords(const QString &folder, QStringList *problems)
{
    QList<RecordedRun> runs;
    const QStringList names = QDir(folder).entryList({QStringLiteral("*.ldif")}, QDir::Files, QDir::Name);
    for (const QString &name : names) {
        try {
            runs.append(readRunRecord(QDir(folder).filePath(name)));
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
    if (QFileInfo(idOrPath).isFile())
        return readRunRecord(idOrPath);
    const QString path = QDir(folder).filePath(idOrPath + QStringLiteral(".ldif"));
    if (!QFileInfo(path).isFile())
        throw platform::Error(QStringLiteral("Kein Laufprotokoll %1 in %2").arg(idOrPath, folder));
    return readRunRecord(path);
}

} // namespace runs
