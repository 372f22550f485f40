#include "cli/session.h"

#include "directory/dn.h"
#include "cli/interrupt.h"
#include "directory/full_name.h"
#include "directory/schema_map.h"
#include "ndk/names.h"
#include "platform/message_pump.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMap>

#include <algorithm>

#ifndef Q_OS_WIN
#include <termios.h>
#include <unistd.h>
#endif

namespace cli {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

namespace {

bool terminalInput()
{
#ifdef Q_OS_WIN
    return true;
#else
    return ::isatty(STDIN_FILENO) == 1;
#endif
}

QString readTerminalLine(bool echo)
{
#ifndef Q_OS_WIN
    termios saved{};
    const bool hide = !echo && ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (hide) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
#endif
    QTextStream in(stdin);
    const QString line = in.readLine();
#ifndef Q_OS_WIN
    if (hide) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        err() << Qt::endl;
    }
#endif
    return line;
}

QString askPassword(const QString &treeName, const QString &bindDn)
{
    if (!terminalInput())
        throw UsageError(QStringLiteral("Für den Baum %1 fehlt das Passwort (passwordfile=), und klassomat kann "
                                        "nicht danach fragen: die Eingabe ist kein Terminal").arg(treeName));
    err() << QStringLiteral("Passwort für %1 im Baum %2: ").arg(bindDn, treeName) << Qt::flush;
    return readTerminalLine(false);
}

} // namespace

bool confirm(const QString &question)
{
    if (!terminalInput())
        throw UsageError(QStringLiteral("Ohne --yes fragt klassomat nach; die Eingabe ist aber kein Terminal"));
    err() << question << QStringLiteral(" [j/N] ") << Qt::flush;
    const QString answer = readTerminalLine(true).trimmed().toLower();
    return answer == QLatin1String("j") || answer == QLatin1String("ja");
}

Session::Session(const QString &treeName)
{
    try {
        m_client = std::make_unique<directory::Client>(QStringLiteral(":/demo/schule.ldif"), askPassword);
        const QStringList names = m_client->treeNames();
        QString name = treeName;
        if (name.isEmpty()) {
            if (names.size() != 1)
                throw UsageError(QStringLiteral("Mehrere Bäume sind eingetragen (%1): bitte --tree angeben")
                                     .arg(names.join(QStringLiteral(", "))));
            name = names.first();
        }
        m_tree = &m_client->tree(name);
        Interrupt::onRequest([this] { m_tree->cancelSearches(); });
        for (const QString &warning : m_client->takeWarnings())
            err() << warning << Qt::endl;
    } catch (const UsageError &) {
        throw;
    } catch (const platform::Error &e) {
        throw UsageError(e.message());
    }
}

Session::~Session()
{
    Interrupt::onRequest(nullptr);
}

QString Session::source() const
{
    return m_client->source(treeName());
}

QString Session::base() const
{
    return m_client->base(treeName());
}

bool Session::attached(const QString &treeName)
{
    try {
        const directory::Client client(QStringLiteral(":/demo/schule.ldif"));
        return client.treeNames().contains(treeName, Qt::CaseInsensitive);
    } catch (const platform::Error &e) {
        throw UsageError(e.message());
    }
}

QString Session::attribute() const
{
    return m_client->attributeName(treeName(), QStringLiteral("OU"));
}

QString Session::serverDescription() const
{
    return m_client->serverDescription(treeName());
}

QString Session::noUsersWarning(const QString &context, qsizetype users)
{
    if (users > 0)
        return {};
    QMap<QString, int> held; // the children, by class
    for (const directory::DirectoryObject &child : m_tree->children(context, {}))
        ++held[child.className];
    if (held.isEmpty())
        return {};
    QStringList holds;
    for (auto it = held.cbegin(); it != held.cend(); ++it)
        holds.append(QStringLiteral("%1 (%2)").arg(it.key()).arg(it.value()));
    const QString where = context == m_tree->rootFullName() ? treeName() : ndk::ToDottedName(context);
    // Below a container the users the map misses may stand.
    const QStringList containers{QStringLiteral("Organizational Unit"), QStringLiteral("Organization"), QStringLiteral("Country"),
                                 QStringLiteral("Locality")};
    if (std::any_of(containers.cbegin(), containers.cend(), [&](const QString &c) { return held.contains(c); }))
        return QStringLiteral("0 Benutzer gefunden – passt class.User zum Server?");
    // Objects of the user class that the search left out: computer accounts,
    // as Active Directory keeps them beside its users.
    if (held.contains(QStringLiteral("User")))
        return QStringLiteral("0 Benutzer gefunden – %1 enthält nur Objekte, die filter.User auslässt (etwa Computerkonten): %2")
            .arg(where, holds.join(QStringLiteral(", ")));
    // Only a class the map does not know may be users it misses.
    const QStringList known = directory::SchemaMap().ndsClasses();
    const bool unknown = std::any_of(held.keyBegin(), held.keyEnd(), [&](const QString &c) { return !known.contains(c, Qt::CaseInsensitive); });
    if (unknown)
        return QStringLiteral("0 Benutzer gefunden – passt class.User zum Server? %1 enthält: %2").arg(where, holds.join(QStringLiteral(", ")));
    return QStringLiteral("0 Benutzer gefunden – %1 enthält nur: %2").arg(where, holds.join(QStringLiteral(", ")));
}

QString Session::resolveContext(const QString &context)
{
    const QString root = m_tree->rootFullName();
    const auto existing = [&](const QString &candidate) {
        try {
            m_tree->className(candidate);
            return true;
        } catch (const platform::Error &) {
            return false;
        }
    };
    QString named; // the one candidate that is meant as it stands
    if (context.startsWith(QLatin1String("NDS:\\\\"), Qt::CaseInsensitive)) {
        named = context;
    } else if (ndk::IsRootToken(context)) {
        named = root;
    } else {
        QStringList parts = context.split(QLatin1Char('.'));
        std::reverse(parts.begin(), parts.end());
        named = root + QLatin1Char('\\') + parts.join(QLatin1Char('\\'));
    }
    QStringList asDn;
    if (!context.startsWith(QLatin1String("NDS:"), Qt::CaseInsensitive) && context.contains(QLatin1Char('='))) {
        // Which RDNs make up the tree's base is not known here: the longest
        // path below the root that names an object wins.
        try {
            QStringList values;
            for (const directory::Rdn &rdn : directory::parseDn(context))
                values.prepend(rdn.value(0).value);
            for (qsizetype first = 0; first < values.size(); ++first)
                asDn.append(root + QLatin1Char('\\') + values.mid(first).join(QLatin1Char('\\')));
        } catch (const platform::Error &) {
            asDn.clear(); // no DN: a name only
        }
    }
    if (asDn.isEmpty()) {
        try {
            m_tree->className(named);
            return named;
        } catch (const platform::Error &e) {
            throw UsageError(QStringLiteral("Kontext %1: %2").arg(context, e.message()));
        }
    }
    const auto dn = std::find_if(asDn.cbegin(), asDn.cend(), existing);
    const bool isName = existing(named);
    if (dn != asDn.cend() && isName && !directory::sameName(*dn, named))
        throw UsageError(QStringLiteral("Kontext %1 ist mehrdeutig: als DN %2, als gepunkteter Name %3; bitte den vollen Namen angeben")
                             .arg(context, *dn, named));
    if (dn != asDn.cend())
        return *dn;
    if (isName)
        return named;
    throw UsageError(QStringLiteral("Kontext %1 ist im Baum %2 nicht zu finden").arg(context, treeName()));
}

namespace {
bool unsearched = false; // a part of the tree that may hold users: the exit code says so
}

bool Session::partsUnsearched()
{
    return unsearched;
}

QList<runs::FoundUser> Session::search(const QString &base, const QString &className, bool subtree, const QString &attribute)
{
    bool done = false;
    std::exception_ptr failure;
    QList<runs::FoundUser> users;
    m_tree->search(base, className, subtree ? directory::Scope::Subtree : directory::Scope::OneLevel,
                   attribute, [&](const directory::Found &found, std::exception_ptr f) {
        failure = f;
        for (const directory::Reference &reference : found.references) {
            const auto same = [&](const directory::Reference &r) { return r.url == reference.url; };
            if (std::any_of(m_references.cbegin(), m_references.cend(), same))
                continue; // met by an earlier search
            m_references.append(reference);
            if (reference.mayHoldUsers) {
                unsearched = true;
                err() << QStringLiteral("Warnung: nicht durchsucht, weil der Server dafür auf einen anderen verweist: %1").arg(reference.url)
                      << Qt::endl;
            }
        }
        users.reserve(found.size());
        for (directory::FoundObject object : found) // made for this loop: moved on
            users.append({std::move(object.fullName), std::move(object.dn), std::move(object.values)});
        done = true;
    });
    while (!done)
        platform::waitForMessages();
    if (failure)
        std::rethrow_exception(failure);
    return users;
}

QString classListPlaces()
{
    return QDir::toNativeSeparators(runs::classListCandidates(QCoreApplication::applicationDirPath()).join(QStringLiteral(", ")));
}

runs::ClassList classListAt(const QString &path, int form)
{
    const QString file = path.isEmpty() ? runs::classListPath(QCoreApplication::applicationDirPath()) : path;
    if (path.isEmpty() && !QFileInfo::exists(file)) {
        if (form > 0)
            throw UsageError(QStringLiteral("Die Form %1 braucht die Klassenliste Klassen.txt, aber es gibt keine; gesucht in: %2. "
                                            "Mit --classes DATEI lässt sich eine angeben.").arg(form).arg(classListPlaces()));
        return {};
    }
    try {
        return runs::readClassList(file);
    } catch (const platform::Error &e) {
        throw UsageError(e.message());
    }
}

} // namespace cli
