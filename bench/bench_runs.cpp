// `klassomat run` and `klassomat preview` as processes, each against its anchor
// measured in the same run (median of 5):
//   run of 10,000 users on slapd        vs one ldapmodify applying the same changes
//   run of 10,000 users, embedded tree  (every write and the record synced)
//   preview of 100,000 users on slapd   vs a paged ldapsearch returning ou
#include "generate_tree.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {
const QString kAdmin = QStringLiteral("cn=admin,dc=schule,dc=test");
constexpr int kRounds = 5;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double timeProcess(const QString &program, const QStringList &args, const QByteArray &input = {},
                   const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start(program, args);
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(600000);
    const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    if (process.exitCode() != 0)
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), process.readAllStandardError().constData());
    return ms;
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &content)
{
    QFile file(dir.filePath(name));
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(content);
    return file.fileName();
}

QProcessEnvironment environment(const QString &config, const QString &data)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DIRCLIENT_CONFIG"), config);
    env.insert(QStringLiteral("XDG_DATA_HOME"), data);
    return env;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString data = generateTree(dir.filePath(QStringLiteral("data.ldif")), 100000, 10, 0, ",dc=schule,dc=test",
                                      "dn: dc=schule,dc=test\nobjectClass: dcObject\nobjectClass: organization\no: Schule\ndc: schule\n\n");
    const QString slapd = dir.filePath(QStringLiteral("slapd"));
    QProcess start;
    start.start(QStringLiteral("bash"), {QStringLiteral(KLASSOMAT_SLAPD_SCRIPT), QStringLiteral("start"), slapd, data});
    start.waitForFinished(600000);
    const QString uri = QString::fromUtf8(start.readAllStandardOutput()).section(QLatin1Char(' '), 0, 0);
    if (start.exitCode() != 0 || uri.isEmpty()) {
        std::fprintf(stderr, "slapd did not start: %s\n", start.readAllStandardError().constData());
        return 1;
    }
    writeFile(dir, QStringLiteral("pw"), "geheim");
    QFile::setPermissions(dir.filePath(QStringLiteral("pw")), QFile::ReadOwner | QFile::WriteOwner);
    const auto ldapEnv = environment(writeFile(dir, QStringLiteral("ldap.ini"),
                                               QStringLiteral("[BENCH]\nuri=%1\nbase=dc=schule,dc=test\nbind=simple\nbinddn=%2\npasswordfile=pw\n")
                                                   .arg(uri, kAdmin).toUtf8()),
                                     dir.filePath(QStringLiteral("data")));
    generateTree(dir.filePath(QStringLiteral("embedded.ldif")), 10000, 1);
    const auto embeddedEnv = environment(writeFile(dir, QStringLiteral("embedded.ini"), "[BENCH]\nldif=embedded.ldif\n"),
                                         dir.filePath(QStringLiteral("data")));
    const QStringList bind{QStringLiteral("-x"), QStringLiteral("-H"), uri, QStringLiteral("-D"), kAdmin, QStringLiteral("-w"), QStringLiteral("geheim")};

    std::vector<double> runs, modifies, embedded, previews, searches;
    for (int round = 0; round < kRounds; ++round) {
        QByteArray changes;
        for (int i = 0; i < 100000; i += 10) // the users of K0
            changes += QStringLiteral("dn: cn=Schueler %1,ou=K0,o=Gym,dc=schule,dc=test\nchangetype: modify\nreplace: ou\nou: A%2\n-\n\n")
                           .arg(i).arg(round).toUtf8();
        modifies.push_back(timeProcess(QStringLiteral("ldapmodify"), bind, changes));

        const QString classes = writeFile(dir, QStringLiteral("Klassen.txt"), QStringLiteral("B%1;K0\n").arg(round).toUtf8());
        const QStringList run{QStringLiteral("run"), QStringLiteral("--context"), QStringLiteral("K0.Gym"), QStringLiteral("--form"),
                              QStringLiteral("1"), QStringLiteral("--classes"), classes, QStringLiteral("--yes")};
        runs.push_back(timeProcess(QStringLiteral(KLASSOMAT_EXECUTABLE), run, {}, ldapEnv));
        embedded.push_back(timeProcess(QStringLiteral(KLASSOMAT_EXECUTABLE), run, {}, embeddedEnv));

        previews.push_back(timeProcess(QStringLiteral(KLASSOMAT_EXECUTABLE),
                                       {QStringLiteral("preview"), QStringLiteral("--context"), QStringLiteral("Gym"), QStringLiteral("--subtree"),
                                        QStringLiteral("--form"), QStringLiteral("0")},
                                       {}, ldapEnv));
        searches.push_back(timeProcess(QStringLiteral("ldapsearch"),
                                       bind + QStringList{QStringLiteral("-LLL"), QStringLiteral("-E"), QStringLiteral("pr=1000/noprompt"),
                                                          QStringLiteral("-b"), QStringLiteral("o=Gym,dc=schule,dc=test"),
                                                          QStringLiteral("(objectClass=inetOrgPerson)"), QStringLiteral("ou")}));
    }
    QProcess::execute(QStringLiteral("bash"), {QStringLiteral(KLASSOMAT_SLAPD_SCRIPT), QStringLiteral("stop"), slapd});

    std::printf("klassomat on the command line, median of %d\n", kRounds);
    std::printf("  run, 10000 users, slapd:     %.0f ms; ldapmodify of the same changes %.0f ms; ratio %.2f (target <= 0.5)\n",
                median(runs), median(modifies), median(runs) / median(modifies));
    std::printf("  run, 10000 users, embedded:  %.0f ms (target <= 2000)\n", median(embedded));
    std::printf("  preview, 100000 users, slapd: %.0f ms; paged ldapsearch with ou %.0f ms; ratio %.2f (target <= 1.5)\n",
                median(previews), median(searches), median(previews) / median(searches));
    return 0;
}
