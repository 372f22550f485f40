// A search of 5,000 users (with their class attribute) on a real 389 Directory
// Server and a real Samba AD, against a paged ldapsearch of the same filter and
// attribute with the same page size (500), in the same run: interleaved pairs,
// medians of 5. Both servers run in the namespaces of tests/servers/, so run it
// as root through them:
//   tests/servers/namespace.sh build/bench/bench_servers [389|samba]...
#include "measure.h"
#include "directory/client.h"
#include "platform/message_pump.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
using bench::median;

constexpr int kRounds = 5;
constexpr int kUsers = 5000;

struct Server {
    QString name, script, base, host, caFile, adminDn, filter, attribute;
    bool ad;
};

QByteArray data(const Server &server)
{
    const QByteArray base = server.base.toUtf8();
    QByteArray ldif = server.ad ? QByteArray() : "dn: " + base + "\nobjectClass: domain\ndc: schule\n\n";
    ldif += "dn: OU=Viele," + base + "\nobjectClass: organizationalUnit\n\n";
    for (int i = 0; i < kUsers; ++i) {
        const QByteArray n = QByteArray::number(i);
        ldif += "dn: CN=v" + n + ",OU=Viele," + base + "\n"
                + (server.ad ? "objectClass: user\nsAMAccountName: v" + n + "\ndepartment: 7a\n"
                             : "objectClass: inetOrgPerson\nsn: v\nou: 7a\n")
                + "\n";
    }
    return ldif;
}

void compare(const Server &server)
{
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/klassomat-bench-XXXXXX"));
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeOther);
    QFile file(dir.filePath(QStringLiteral("data.ldif")));
    file.open(QIODevice::WriteOnly);
    file.write(data(server));
    file.close();
    const QString serverDir = dir.filePath(QStringLiteral("server"));
    if (QProcess::execute(QStringLiteral("bash"), {server.script, QStringLiteral("start"), serverDir, file.fileName(),
                                                   QString::number(QCoreApplication::applicationPid())}) != 0) {
        std::fprintf(stderr, "%s did not start\n", qPrintable(server.name));
        return;
    }
    const QString ca = serverDir + QLatin1Char('/') + server.caFile;
    QFile password(dir.filePath(QStringLiteral("pw")));
    password.open(QIODevice::WriteOnly);
    password.write("Admin.123");
    password.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    password.close();
    QFile ini(dir.filePath(QStringLiteral("dirclient.ini")));
    ini.open(QIODevice::WriteOnly);
    ini.write(QStringLiteral("[BENCH]\nuri=ldaps://%1\nbase=%2\ncafile=%3\nbind=simple\nbinddn=%4\npasswordfile=pw\n")
                  .arg(server.host, server.base, ca, server.adminDn).toUtf8());
    ini.close();
    qputenv("DIRCLIENT_CONFIG", ini.fileName().toUtf8());

    directory::Client client;
    directory::Tree &tree = client.tree(QStringLiteral("BENCH"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LDAPTLS_CACERT"), ca);
    std::vector<double> ours, anchor;
    for (int round = 0; round < kRounds; ++round) {
        QElapsedTimer clock;
        clock.start();
        bool done = false;
        qsizetype found = 0;
        tree.search(QStringLiteral("NDS:\\\\BENCH\\Viele"), QStringLiteral("User"), directory::Scope::OneLevel, QStringLiteral("OU"),
                    [&](const directory::Found &objects, std::exception_ptr failure) {
                        found = failure ? -1 : objects.size();
                        done = true;
                    });
        while (!done)
            platform::waitForMessages();
        ours.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        if (found != kUsers)
            std::fprintf(stderr, "%s: klassomat found %lld users\n", qPrintable(server.name), static_cast<long long>(found));

        QProcess search;
        search.setProcessEnvironment(env);
        search.setStandardOutputFile(QProcess::nullDevice());
        clock.restart();
        search.start(QStringLiteral("ldapsearch"),
                     {QStringLiteral("-x"), QStringLiteral("-LLL"), QStringLiteral("-H"), QStringLiteral("ldaps://") + server.host,
                      QStringLiteral("-D"), server.adminDn, QStringLiteral("-w"), QStringLiteral("Admin.123"),
                      QStringLiteral("-E"), QStringLiteral("pr=500/noprompt"), QStringLiteral("-s"), QStringLiteral("one"),
                      QStringLiteral("-b"), QStringLiteral("OU=Viele,") + server.base, server.filter, server.attribute});
        search.waitForFinished(300000);
        anchor.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    const double a = median(ours), b = median(anchor);
    std::printf("%-8s search of %d users: klassomat %8.1f ms, ldapsearch (paged 500) %8.1f ms, ratio %.2f (goal <= 1.2)\n",
                qPrintable(server.name), kUsers, a, b, a / b);
    QProcess::execute(QStringLiteral("bash"), {server.script, QStringLiteral("stop"), serverDir});
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (qgetenv("KLASSOMAT_IN_NAMESPACE") != "1") {
        std::fprintf(stderr, "run me through tests/servers/namespace.sh\n");
        return 2;
    }
    const QString dir = QStringLiteral(KLASSOMAT_SERVERS_DIR);
    const QList<Server> servers{
        {QStringLiteral("389"), dir + QStringLiteral("/ds389.sh"), QStringLiteral("dc=schule,dc=test"),
         QStringLiteral("ds389.schule.test"), QStringLiteral("config/ca.crt"), QStringLiteral("cn=Directory Manager"),
         QStringLiteral("(objectClass=inetOrgPerson)"), QStringLiteral("ou"), false},
        {QStringLiteral("samba"), dir + QStringLiteral("/samba.sh"), QStringLiteral("DC=schule,DC=test"),
         QStringLiteral("dc1.schule.test"), QStringLiteral("tls/ca.pem"), QStringLiteral("CN=Administrator,CN=Users,DC=schule,DC=test"),
         QStringLiteral("(&(objectCategory=person)(objectClass=user))"), QStringLiteral("department"), true},
    };
    const QStringList wanted = app.arguments().mid(1);
    for (const Server &server : servers) {
        if (wanted.isEmpty() || wanted.contains(server.name))
            compare(server);
    }
    bench::printLoadAverage();
    return 0;
}
