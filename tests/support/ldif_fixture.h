#pragma once

#include "platform/error.h"

#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <functional>

// A small school tree in LDIF, and a helper that writes one into a folder.
namespace fixture {

inline const char *kSchool =
    "version: 1\n"
    "\n"
    "dn: o=Gym\n"
    "objectClass: organization\n"
    "o: Gym\n"
    "\n"
    "dn: ou=Abi05a,o=Gym\n"
    "objectClass: organizationalUnit\n"
    "ou: Abi05a\n"
    "\n"
    "dn: cn=mueller,ou=Abi05a,o=Gym\n"
    "objectClass: inetOrgPerson\n"
    "cn: mueller\n"
    "sn: Mueller\n"
    "\n"
    "dn: cn=Schmidt\\, Anna,ou=Abi05a,o=Gym\n"
    "objectClass: inetOrgPerson\n"
    "cn: Schmidt, Anna\n"
    "sn: Schmidt\n"
    "ou: alt\n"
    "\n"
    "dn: ou=Abi04x,ou=Abi05a,o=Gym\n"
    "objectClass: organizationalUnit\n"
    "ou: Abi04x\n"
    "\n"
    "dn:: Y249SsO8cmdlbiDFgW9kesSZLG91PUFiaTA0eCxvdT1BYmkwNWEsbz1HeW0=\n" // cn=Jürgen Łodzę
    "objectClass: inetOrgPerson\n"
    "cn:: SsO8cmdlbiDFgW9kesSZ\n"
    "sn: X\n"
    "\n"
    "dn: ou=Lehrer,o=Gym\n"
    "objectClass: organizationalUnit\n"
    "ou: Lehrer\n"
    "\n"
    "dn: cn=Kollegium,ou=Lehrer,o=Gym\n"
    "objectClass: groupOfNames\n"
    "cn: Kollegium\n"
    "member: cn=mueller,ou=Abi05a,o=Gym\n"
    "\n"
    "dn: cn=meier,ou=Lehrer,o=Gym\n"
    "objectClass: inetOrgPerson\n"
    "cn: meier\n"
    "sn: Meier\n";

inline QString write(const QTemporaryDir &dir, const QByteArray &content, const QString &name = QStringLiteral("tree.ldif"))
{
    const QString path = dir.filePath(name);
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(content);
    return path;
}

// The message of the error that `body` raises; empty when it raises none.
inline QString errorOf(const std::function<void()> &body)
{
    try {
        body();
    } catch (const std::exception &e) {
        return platform::messageOf(e);
    }
    return {};
}

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

} // namespace fixture
