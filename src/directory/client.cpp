#include "directory/client.h"

#include "directory/full_name.h"
#include "directory/ldif_tree.h"
#include "directory/schema_map.h"
#include "platform/error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace directory {

struct Client::Attached {
    QString name;
    QString ldifPath;
    QString baseDn;
    LdapSettings ldap;
    QString configError; // shown when the tree is used, so the others stay usable
    SchemaMap schema;
    std::unique_ptr<Tree> tree;
};

Client::Client(const QString &demoSource, PasswordPrompt prompt)
    : m_prompt(std::move(prompt))
{
    const QString path = configPath();
    if (QFileInfo::exists(path))
        readConfig(path);
    else if (!demoSource.isEmpty())
        attachDemo(demoSource);
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
    if (!caFile.isEmpty())
        ldap.caFile = folder.absoluteFilePath(caFile);
    ldap.allowPlainPassword = settings.value(QStringLiteral("allow_plain_password"), false).toBool();
    ldap.timeoutSeconds = qMax(1, settings.value(QStringLiteral("timeout"), 10).toInt());
    return ldap;
}
} // namespace

void Client::readConfig(const QString &path)
{
    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError)
        throw platform::Error(QStringLiteral("Konfiguration %1 kann nicht gelesen werden").arg(path));
    const QDir folder = QFileInfo(path).absoluteDir();
    for (const QString &group : settings.childGroups()) {
        settings.beginGroup(group);
        auto attached = std::make_unique<Attached>();
        attached->name = group;
        const QString ldif = text(settings, QStringLiteral("ldif"));
        if (!ldif.isEmpty())
            attached->ldifPath = folder.absoluteFilePath(ldif);
        attached->baseDn = text(settings, QStringLiteral("base"));
        try {
            attached->ldap = readLdapSettings(settings, folder);
        } catch (const platform::Error &e) {
            attached->configError = QStringLiteral("Baum %1 in %2: %3").arg(group, path, e.message());
        }
        attached->ldap.baseDn = attached->baseDn;
        attached->schema.readOverrides(settings);
        settings.endGroup();
        m_trees.push_back(std::move(attached));
    }
}

void Client::attachDemo(const QString &demoSource)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    const QString target = folder + QStringLiteral("/schule.ldif");
    if (!QFileInfo::exists(target)) {
        if (!QDir().mkpath(folder) || !QFile::copy(demoSource, target))
            throw platform::Error(QStringLiteral("Der Demo-Baum kann nicht nach %1 kopiert werden").arg(target));
        QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner);
    }
    auto attached = std::make_unique<Attached>();
    attached->name = QStringLiteral("SCHULE");
    attached->ldifPath = target;
    m_trees.push_back(std::move(attached));
}

QStringList Client::treeNames() const
{
    QStringList names;
    for (const auto &attached : m_trees)
        names.append(attached->name);
    return names;
}

Tree &Client::tree(const QString &name)
{
    for (const auto &attached : m_trees) {
        if (attached->name.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        if (!attached->tree) {
            if (!attached->configError.isEmpty())
                throw platform::Error(attached->configError);
            if (!attached->ldap.uri.isEmpty())
                attached->tree = std::make_unique<LdapTree>(attached->name, attached->ldap, attached->schema, m_prompt);
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
    throw platform::Error(QStringLiteral("Mit dem Baum %1 besteht keine Verbindung").arg(name));
}

QStringList Client::takeWarnings()
{
    return std::exchange(m_warnings, {});
}

Tree &Client::treeOf(const QString &fullName)
{
    return tree(FullName::parse(fullName).treeName);
}

} // namespace directory
