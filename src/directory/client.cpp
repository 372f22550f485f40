#include "directory/client.h"

#include "directory/full_name.h"
#include "directory/embedded/ldif_files.h"
#include "directory/embedded/ldif_tree.h"
#include "directory/schema_map.h"
#include "platform/durable.h"
#include "platform/error.h"
#include "platform/owned_path.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <optional>
#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace directory {

struct Client::Attached {
    QString name;
    QString ldifPath;
    QString baseDn;
    LdapSettings ldap;
    QString configError; // shown when the tree is used, so the others stay usable
    SchemaMap schema;
    std::unique_ptr<Tree> tree;
    LdapTree *ldapTree = nullptr; // `tree`, when it is on an LDAP server
    std::optional<QString> identity;
};

Client::Client(const QString &demoSource, PasswordPrompt prompt)
    : m_prompt(std::move(prompt))
{
    // A failure here must not keep the program from starting: it is raised
    // again by every later use, where the caller shows it.
    try {
        const QString path = configPath();
        if (QFileInfo::exists(path))
            readConfig(path);
        else if (!qEnvironmentVariableIsEmpty("DIRCLIENT_CONFIG"))
            throw platform::Error(QStringLiteral("Die Konfiguration %1 (DIRCLIENT_CONFIG) gibt es nicht").arg(path));
        else if (!demoSource.isEmpty())
            attachDemo(demoSource);
    } catch (const platform::Error &e) {
        m_trees.clear();
        m_attachError = e.message();
    }
}

Client::~Client() = default;

QString Client::configPath()
{
    const QString fromEnvironment = qEnvironmentVariable("DIRCLIENT_CONFIG");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation)
           + QStringLiteral("/dirclient.ini");
}

namespace {
// QSettings reads a value holding commas (a DN) as a list: join it again.
QString text(const QSettings &settings, const QString &key, const QString &fallback = QString())
{
    const QVariant value = settings.value(key, fallback);
    if (value.metaType() == QMetaType::fromType<QStringList>())
        return value.toStringList().join(QLatin1Char(','));
    return value.toString();
}

LdapSettings readLdapSettings(const QSettings &settings, const QDir &folder)
{
    LdapSettings ldap;
    ldap.uri = text(settings, QStringLiteral("uri"));
    const QString bind = text(settings, QStringLiteral("bind"), QStringLiteral("anonymous")).toLower();
    if (bind == QLatin1String("simple"))
        ldap.bind = LdapSettings::Bind::Simple;
    else if (bind == QLatin1String("external"))
        ldap.bind = LdapSettings::Bind::SaslExternal;
    else if (bind == QLatin1String("sasl")) {
        ldap.bind = LdapSettings::Bind::Sasl;
        ldap.saslMechanism = text(settings, QStringLiteral("mech")).toUpper();
        if (ldap.saslMechanism.isEmpty())
            throw platform::Error(QStringLiteral("bind=sasl braucht ein Verfahren, etwa mech=GSSAPI"));
    } else if (bind != QLatin1String("anonymous"))
        throw platform::Error(QStringLiteral("Unbekannte Anmeldeart bind=%1 (anonymous, simple, external oder sasl)").arg(bind));
    ldap.bindDn = text(settings, QStringLiteral("binddn"));
    const QString passwordFile = text(settings, QStringLiteral("passwordfile"));
    if (!passwordFile.isEmpty())
        ldap.passwordFile = folder.absoluteFilePath(passwordFile);
    ldap.startTls = settings.value(QStringLiteral("starttls"), false).toBool();
    const QString caFile = text(settings, QStringLiteral("cafile"));
    if (!caFile.isEmpty()) {
        ldap.caFile = folder.absoluteFilePath(caFile);
        // libldap would only say that it cannot set up TLS.
        if (!QFileInfo(ldap.caFile).isReadable())
            throw platform::Error(QStringLiteral("cafile=%1: die Datei %2 gibt es nicht oder sie ist nicht lesbar").arg(caFile, ldap.caFile));
    }
    ldap.allowPlainPassword = settings.value(QStringLiteral("allow_plain_password"), false).toBool();
    bool number = false;
    const QString timeout = text(settings, QStringLiteral("timeout"), QStringLiteral("10"));
    ldap.timeoutSeconds = timeout.trimmed().toInt(&number);
    if (!number || ldap.timeoutSeconds <= 0)
        throw platform::Error(QStringLiteral("timeout=%1 ist keine positive Zahl von Sekunden").arg(timeout));
    const QString maxEntries = text(settings, QStringLiteral("maxentries"), QString::number(ldap.maxEntries));
    ldap.maxEntries = maxEntries.trimmed().toLongLong(&number);
    if (!number || ldap.maxEntries <= 0)
        throw platform::Error(QStringLiteral("maxentries=%1 ist keine positive Zahl").arg(maxEntries));
    return ldap;
}

// A key no reader knows is a misspelt one (timout=5): it would otherwise
// leave its setting at the default without a word.
void refuseUnknownKeys(const QSettings &settings, const QString &section)
{
    static const QStringList known = {
        QStringLiteral("ldif"), QStringLiteral("base"), QStringLiteral("uri"), QStringLiteral("bind"),
        QStringLiteral("mech"), QStringLiteral("binddn"), QStringLiteral("passwordfile"), QStringLiteral("starttls"),
        QStringLiteral("cafile"), QStringLiteral("allow_plain_password"), QStringLiteral("timeout"), QStringLiteral("maxentries")};
    static const QStringList prefixes = {QStringLiteral("class."), QStringLiteral("attribute."), QStringLiteral("filter.")};
    for (const QString &key : settings.childKeys()) {
        // Spelt as they are read: the keys exactly, the maps in any letter case.
        if (known.contains(key) || std::any_of(prefixes.cbegin(), prefixes.cend(), [&](const QString &p) { return key.startsWith(p, Qt::CaseInsensitive); }))
            continue;
        throw platform::Error(QStringLiteral("unbekannter Schlüssel %1= im Abschnitt [%2] (bekannt sind %3 und %4…)")
                                  .arg(key, section, known.join(QStringLiteral("=, ")) + QLatin1Char('='), prefixes.join(QStringLiteral("…, "))));
    }
}
} // namespace

void Client::readConfig(const QString &path)
{
    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        throw platform::Error(QStringLiteral("Konfiguration %1 kann nicht gelesen werden").arg(path));
    const QDir folder = QFileInfo(path).absoluteDir();
    // QSettings files the keys of a section [General] at the top level: they
    // describe the tree "General".
    const QString general = QStringLiteral("General");
    QStringList groups = settings.childGroups();
    if (!settings.childKeys().isEmpty())
        groups.append(general);
    groups.sort();
    for (const QString &group : std::as_const(groups)) {
        if (group != general)
            settings.beginGroup(group);
        auto attached = std::make_unique<Attached>();
        attached->name = group;
        const QString ldif = text(settings, QStringLiteral("ldif"));
        if (!ldif.isEmpty())
            attached->ldifPath = folder.absoluteFilePath(ldif);
        attached->baseDn = text(settings, QStringLiteral("base"));
        try {
            refuseUnknownKeys(settings, group);
            attached->ldap = readLdapSettings(settings, folder);
        } catch (const platform::Error &e) {
            attached->configError = QStringLiteral("Baum %1 in %2: %3").arg(group, path, e.message());
        }
        attached->ldap.baseDn = attached->baseDn;
        attached->schema.readOverrides(settings);
        if (group != general)
            settings.endGroup();
        m_trees.push_back(std::move(attached));
    }
}

namespace {
void copyPrivately(const QString &source, const QString &target)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        throw platform::Error(QStringLiteral("Der Demo-Baum %1 kann nicht gelesen werden").arg(source));
    const QByteArray content = in.readAll();
#ifdef Q_OS_UNIX
    const int fd = files::openPrivate(target, O_WRONLY | O_CREAT | O_EXCL);
    bool done = fd >= 0 && files::writeAll(fd, content.constData(), content.size()) && platform::syncFile(fd);
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    if (!done) {
        if (fd >= 0)
            QFile::remove(target);
        throw platform::Error(files::failure(QStringLiteral("Der Demo-Baum kann nicht nach %1 kopiert werden"), target, error));
    }
#else
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly) || out.write(content) != content.size() || !out.flush()) {
        const QString error = out.errorString();
        if (out.isOpen()) {
            out.close();
            out.remove();
        }
        throw platform::Error(QStringLiteral("Der Demo-Baum kann nicht nach %1 kopiert werden: %2")
                                  .arg(QDir::toNativeSeparators(target), error));
    }
#endif
}
} // namespace

void Client::attachDemo(const QString &demoSource)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const QString target = folder + QStringLiteral("/schule.ldif");
    // Pupils' names and what undo applies: only from files nobody else can
    // have put there.
    platform::ensureOwnedFolder(folder);
    for (const char *suffix : {"", ".journal", ".journal.torn", ".lock"}) {
        const QString path = target + QLatin1String(suffix);
        if (QFileInfo(path).exists() || QFileInfo(path).isSymLink())
            platform::requireOwnedFile(path);
    }
    if (!QFileInfo::exists(target))
        copyPrivately(demoSource, target);
    auto attached = std::make_unique<Attached>();
    attached->name = QStringLiteral("SCHULE");
    attached->ldifPath = target;
    m_trees.push_back(std::move(attached));
}

QStringList Client::treeNames() const
{
    if (!m_attachError.isEmpty())
        throw platform::Error(m_attachError);
    QStringList names;
    for (const auto &attached : m_trees)
        names.append(attached->name);
    return names;
}

Client::Attached *Client::attached(QStringView name) const
{
    for (const auto &attached : m_trees) {
        // The same text first: every write names its tree.
        if (attached->name == name || attached->name.compare(name, Qt::CaseInsensitive) == 0)
            return attached.get();
    }
    return nullptr;
}

bool Client::hasTree(QStringView name) const
{
    if (!m_attachError.isEmpty())
        throw platform::Error(m_attachError);
    return attached(name) != nullptr;
}

Tree &Client::tree(QStringView name)
{
    if (!m_attachError.isEmpty())
        throw platform::Error(m_attachError);
    if (Attached *attached = this->attached(name)) {
        if (!attached->tree) {
            if (!attached->configError.isEmpty())
                throw platform::Error(attached->configError);
            if (!attached->ldap.uri.isEmpty()) {
                auto tree = std::make_unique<LdapTree>(attached->name, attached->ldap, attached->schema, m_prompt);
                attached->ldapTree = tree.get();
                attached->tree = std::move(tree);
            }
            else if (!attached->ldifPath.isEmpty()) {
                auto tree = std::make_unique<LdifTree>(attached->name, attached->ldifPath, attached->baseDn, attached->schema);
                m_warnings += tree->warnings();
                attached->tree = std::move(tree);
            }
            else
                throw platform::Error(QStringLiteral("Für den Baum %1 ist weder ldif= noch uri= eingetragen").arg(name));
        }
        return *attached->tree;
    }
    const QString trees = treeNames().join(QStringLiteral(", "));
    if (!QFileInfo::exists(configPath()))
        throw platform::Error(QStringLiteral("Einen Baum %1 gibt es nicht: ohne Konfiguration (%2) ist nur %3 eingetragen")
                                  .arg(name, configPath(), trees));
    throw platform::Error(QStringLiteral("Die Konfiguration %1 hat keinen Baum %2; sie hat: %3").arg(configPath(), name, trees));
}

QString Client::source(const QString &name) const
{
    const Attached *attached = this->attached(name);
    if (!attached)
        return {};
    if (attached->ldapTree)
        return attached->ldapTree->server();
    return attached->ldap.uri.isEmpty() ? attached->ldifPath : attached->ldap.uri;
}

QString Client::base(const QString &name) const
{
    const Attached *attached = this->attached(name);
    return attached ? attached->baseDn : QString();
}

QString Client::identity(const QString &name)
{
    tree(name);
    Attached *attached = this->attached(name);
    if (!attached || !attached->ldapTree)
        return {};
    if (!attached->identity) {
        // A base entry this account may not read must not stop a run that
        // would work; its record is then judged by server and base alone.
        try {
            attached->identity = attached->ldapTree->identity();
        } catch (const platform::Error &) {
            return {};
        }
    }
    return *attached->identity;
}

QString Client::attributeName(const QString &name, const QString &ndsAttribute) const
{
    const Attached *attached = this->attached(name);
    if (!attached)
        return SchemaMap().attribute(ndsAttribute);
    return (attached->ldapTree ? attached->ldapTree->schema() : attached->schema).attribute(ndsAttribute);
}

QString Client::serverDescription(const QString &name) const
{
    const Attached *attached = this->attached(name);
    if (!attached || !attached->ldapTree)
        return {};
    const QStringList taken = attached->ldapTree->defaultsTaken();
    QString text = serverKindName(attached->ldapTree->serverKind());
    if (!taken.isEmpty())
        text += QStringLiteral("; Vorgaben für diesen Server: ") + taken.join(QStringLiteral(", "));
    return text;
}

QStringList Client::takeWarnings()
{
    return std::exchange(m_warnings, {});
}

Tree &Client::treeOf(const QString &fullName)
{
    return tree(shapeOf(fullName).treeName);
}

} // namespace directory
