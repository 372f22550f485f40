// On a real slapd with 100,000 users in 4,000 OUs: the directory control's
// subtree search for all users against `ldapsearch -LLL ... dn`, and the median
// put-and-store against `ldapmodify` of the same change.
#include "directory/client.h"
#include "generate_tree.h"
#include "nwcontrols/NWDirLib_TLB.h"
#include "nwcontrols/register_controls.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {
const QString kAdmin = QStringLiteral("cn=admin,dc=schule,dc=test");

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double timeProcess(const QString &program, const QStringList &args, const QByteArray &input = {})
{
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, args);
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(120000);
    if (process.exitCode() != 0)
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), process.readAllStandardError().constData());
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString data = generateTree(dir.filePath(QStringLiteral("data.ldif")), 100000, 4000, 0, ",dc=schule,dc=test",
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

    attachTrees(dir.path(), QStringLiteral("[BENCH]\nuri=%1\nbase=dc=schule,dc=test\nbind=simple\nbinddn=%2\n").arg(uri, kAdmin).toUtf8());
    directory::Client client(QString(), [](const QString &, const QString &) { return QStringLiteral("geheim"); });
    nwcontrols::registerControls(client);
    TNWDir control;

    std::vector<double> ours, ourCpu, theirs;
    qsizetype hits = 0;
    for (int round = 0; round < 3; ++round) {
        bool done = false;
        control.OnSearchCompleted = [&](TNWDir *, const QVariant &results) {
            hits = results.toList().size();
            done = true;
        };
        QElapsedTimer clock;
        timespec cpu0{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu0);
        clock.start();
        control.Search(QString(), QStringLiteral("User"), 2, QStringLiteral("NDS:\\\\BENCH\\Gym"), 0);
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        ours.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        timespec cpu1{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu1);
        ourCpu.push_back(static_cast<double>(cpu1.tv_sec - cpu0.tv_sec) * 1e3 + static_cast<double>(cpu1.tv_nsec - cpu0.tv_nsec) / 1e6);
        theirs.push_back(timeProcess(QStringLiteral("ldapsearch"),
                                     {QStringLiteral("-x"), QStringLiteral("-LLL"), QStringLiteral("-H"), uri, QStringLiteral("-D"), kAdmin,
                                      QStringLiteral("-w"), QStringLiteral("geheim"), QStringLiteral("-b"), QStringLiteral("o=Gym,dc=schule,dc=test"),
                                      QStringLiteral("(objectClass=inetOrgPerson)"), QStringLiteral("dn")}));
    }

    std::vector<double> stores, modifies;
    for (int i = 0; i < 100; ++i) {
        const QString user = QStringLiteral("Schueler %1").arg(i * 997);
        const QString unit = QStringLiteral("K%1").arg((i * 997) % 4000);
        control.SetFullName(QStringLiteral("NDS:\\\\BENCH\\Gym\\%1\\%2").arg(unit, user));
        QElapsedTimer clock;
        clock.start();
        auto entry = control.Entry();
        entry.SetValue(QStringLiteral("OU"), QStringLiteral("Wert %1").arg(i));
        entry.Update();
        stores.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        if (i < 20) {
            const QByteArray change = QStringLiteral("dn: cn=%1,ou=%2,o=Gym,dc=schule,dc=test\nchangetype: modify\nreplace: ou\nou: Anders %3\n-\n")
                                          .arg(user, unit).arg(i).toUtf8();
            modifies.push_back(timeProcess(QStringLiteral("ldapmodify"),
                                           {QStringLiteral("-x"), QStringLiteral("-H"), uri, QStringLiteral("-D"), kAdmin, QStringLiteral("-w"), QStringLiteral("geheim")},
                                           change));
        }
    }
    QProcess::execute(QStringLiteral("bash"), {QStringLiteral(KLASSOMAT_SLAPD_SCRIPT), QStringLiteral("stop"), slapd});

    std::printf("LDAP tree on slapd, 100000 users in 4000 OUs\n");
    std::printf("  subtree search:     %.0f ms for %lld users (median of 3); ldapsearch -LLL dn %.0f ms; ratio %.2f (target <= 1.5)\n",
                median(ours), static_cast<long long>(hits), median(theirs), median(ours) / median(theirs));
    std::printf("                      of which klassomat's own CPU time %.0f ms\n", median(ourCpu));
    std::printf("  put-and-store:      median %.2f ms over 100; ldapmodify %.2f ms over 20; ratio %.2f (target <= 1.5)\n",
                median(stores), median(modifies), median(stores) / median(modifies));
    return 0;
}
