#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Writes a school tree of `users` pupils spread over `units` class OUs below
// o=Gym (below `suffix` when given, e.g. ",dc=schule,dc=test"), plus one OU
// "Gross" holding `bigUnit` sub-OUs; returns the file path.
inline QString generateTree(const QString &path, int users, int units, int bigUnit = 0, const QByteArray &suffix = {},
                            const QByteArray &prologue = {})
{
    QByteArray out = prologue;
    out.reserve(users * 150);
    out += "dn: o=Gym" + suffix + "\nobjectClass: organization\no: Gym\n\n";
    for (int u = 0; u < units; ++u)
        out += "dn: ou=K" + QByteArray::number(u) + ",o=Gym" + suffix + "\nobjectClass: organizationalUnit\nou: K" + QByteArray::number(u) + "\n\n";
    for (int i = 0; i < users; ++i) {
        const QByteArray unit = QByteArray::number(i % units);
        const QByteArray cn = "Schueler " + QByteArray::number(i);
        out += "dn: cn=" + cn + ",ou=K" + unit + ",o=Gym" + suffix + "\nobjectClass: top\nobjectClass: person\n"
               "objectClass: organizationalPerson\nobjectClass: inetOrgPerson\ncn: " + cn + "\nsn: S" + QByteArray::number(i) + "\nuid: s" + QByteArray::number(i) + "\n\n";
    }
    if (bigUnit > 0) {
        out += "dn: ou=Gross,o=Gym" + suffix + "\nobjectClass: organizationalUnit\nou: Gross\n\n";
        for (int i = 0; i < bigUnit; ++i)
            out += "dn: ou=G" + QByteArray::number(i) + ",ou=Gross,o=Gym" + suffix + "\nobjectClass: organizationalUnit\nou: G" + QByteArray::number(i) + "\n\n";
    }
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(out);
    return path;
}

// Attaches the trees of `ini` (INI text, paths relative to `dir`) for this process.
inline void attachTrees(const QString &dir, const QByteArray &ini)
{
    const QString path = dir + QStringLiteral("/dirclient.ini");
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(ini);
    qputenv("DIRCLIENT_CONFIG", path.toUtf8());
}

// The process's resident set size and its peak, in MiB, from /proc.
inline double memoryMiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}
