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
    SchemaMap schema;
    std::unique_ptr<Tree> tree;
};

Client::Client(const QString &demoSource)
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
        const QString ldif = settings.value(QStringLiteral("ldif")).toString();
        if (!ldif.isEmpty())
            attached->ldifPath = folder.absoluteFilePath(ldif);
        attached->baseDn = settings.value(QStringLiteral("base")).toString();
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
            if (attached->ldifPath.isEmpty())
                throw platform::Error(QStringLiteral("Für den Baum %1 ist keine Quelle eingetragen").arg(name));
            attached->tree = std::make_unique<LdifTree>(attached->name, attached->ldifPath, attached->baseDn,
                                                        attached->schema);
        }
        return *attached->tree;
    }
    throw platform::Error(QStringLiteral("Mit dem Baum %1 besteht keine Verbindung").arg(name));
}

Tree &Client::treeOf(const QString &fullName)
{
    return tree(FullName::parse(fullName).treeName);
}

} // namespace directory
