// On a real slapd with 100,000 users in 4,000 OUs, through the directory
// control as the program uses it:
// - the subtree search for all users against a paged `ldapsearch` with the
//   same page size (wall and CPU time), and the tree search's peak memory
//   growth against the raw size (UTF-8 bytes) of the full names, DNs and
//   values it returns;
// - the put-and-store of 10,000 changes, one at a time, against one
//   `ldapmodify` process applying the same 10,000 changes.
// Both sides are timed the same way: each as a process of its own (ours is
// this program, started again in a child mode), wall time and the process's
// CPU time, start and bind included.
// Rounds alternate between ours and theirs; figures are medians of 5 rounds.
#include "measure.h"
#include "directory/client.h"
#include "generate_tree.h"
#include "nwcontrols/NWDirLib_TLB.h"
#include "nwcontrols/register_controls.h"
#include "support/slapd_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <malloc.h>
#include <sys/resource.h>

namespace {
using bench::median;
const QString kAdmin = QStringLiteral("cn=admin,dc=schule,dc=test");
constexpr int kUsers = 100000;
constexpr int kUnits = 4000;
constexpr int kChanges = 10000;
constexpr int kRounds = 5;

double childrenCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto ms = [](const timeval &t) { return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

struct Timing {
    double wallMs;
    double cpuMs;
};

// Runs a program to its end; wall time and its CPU time.
Timing runProcess(const QString &program, const QStringList &args, const QString &input = {})
{
    const double cpu0 = childrenCpuMs();
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    if (!input.isEmpty())
        process.setStandardInputFile(input);
    process.start(program, args);
    process.waitForFinished(600000);
    const double wall = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    if (process.exitCode() != 0)
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program), process.readAllStandardError().constData());
    return {wall, childrenCpuMs() - cpu0};
}

// Starts counting the peak resident set size afresh (Linux: clear_refs 5).
void resetPeakMemory()
{
    malloc_trim(0);
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

QString userName(int i)
{
    const int user = (i * 7919) % kUsers;
    return QStringLiteral("NDS:\\\\BENCH\\Gym\\K%1\\Schueler %2").arg(user % kUnits).arg(user);
}
} // namespace

// The child modes: one search, or the round's 10,000 stores, then exit.
int child(const QString &mode, int round)
{
    directory::Client client(QString(), [](const QString &, const QString &) { return QStringLiteral("geheim"); });
    nwcontrols::registerControls(client);
    TNWDir control;
    if (mode == QLatin1String("--search")) {
        bool done = false;
        control.OnSearchCompleted = [&](TNWDir *, const QVariant &found) {
            done = true;
            std::printf("%lld\n", static_cast<long long>(found.toList().size()));
        };
        control.Search(QString(), QStringLiteral("User"), 2, QStringLiteral("NDS:\\\\BENCH\\Gym"), 0);
        while (!done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return 0;
    }
    for (int i = 0; i < kChanges; ++i) {
        control.SetFullName(userName(i));
        auto entry = control.Entry();
        entry.SetValue(QStringLiteral("OU"), QStringLiteral("Wert %1 %2").arg(round).arg(i));
        entry.Update();
    }
    return 0;
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc >= 2)
        return child(QString::fromLatin1(argv[1]), argc >= 3 ? QString::fromLatin1(argv[2]).toInt() : 0);
    QTemporaryDir dir;
    const QString data = generateTree(dir.filePath(QStringLiteral("data.ldif")), kUsers, kUnits, 0, ",dc=schule,dc=test",
                                      "dn: dc=schule,dc=test\nobjectClass: dcObject\nobjectClass: organization\no: Schule\ndc: schule\n\n");
    SlapdServer slapd(dir.filePath(QStringLiteral("slapd")), data);
    if (!slapd.start()) {
        std::fprintf(stderr, "slapd did not start: %s\n", qPrintable(slapd.error()));
        return 1;
    }
    const QString uri = slapd.uri();
    const QStringList login{QStringLiteral("-x"), QStringLiteral("-H"), uri, QStringLiteral("-D"), kAdmin, QStringLiteral("-w"), QStringLiteral("geheim")};

    attachTrees(dir.path(), QStringLiteral("[BENCH]\nuri=%1\nbase=dc=schule,dc=test\nbind=simple\nbinddn=%2\n").arg(uri, kAdmin).toUtf8());
    directory::Client client(QString(), [](const QString &, const QString &) { return QStringLiteral("geheim"); });
    const QString self = QCoreApplication::applicationFilePath();

    std::vector<double> ours, ourCpu, theirs, theirCpu, growth, stores, storeCpu, modifies, modifyCpu;
    double rawMiB = 0;
    qsizetype hits = 0;
    for (int round = 0; round < kRounds; ++round) {
        // The tree's search alone, for its memory.
        {
            bool found = false;
            resetPeakMemory();
            const double before = memoryMiB("VmRSS:");
            client.tree(QStringLiteral("BENCH")).search(QStringLiteral("NDS:\\\\BENCH\\Gym"), QStringLiteral("User"), directory::Scope::Subtree,
                                                        QStringLiteral("OU"), [&](const directory::Found &found_, std::exception_ptr) {
                growth.push_back(memoryMiB("VmHWM:") - before);
                qsizetype bytes = 0;
                for (const directory::FoundObject &hit : found_) {
                    bytes += hit.fullName.toUtf8().size() + hit.dn.toUtf8().size();
                    for (const QString &value : hit.values)
                        bytes += value.toUtf8().size();
                }
                rawMiB = static_cast<double>(bytes) / (1024.0 * 1024.0);
                hits = found_.size();
                found = true;
            });
            while (!found)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }

        const Timing search = runProcess(self, {QStringLiteral("--search")});
        ours.push_back(search.wallMs);
        ourCpu.push_back(search.cpuMs);
        const Timing theirSearch = runProcess(QStringLiteral("ldapsearch"),
                                              login + QStringList{QStringLiteral("-LLL"), QStringLiteral("-E"), QStringLiteral("pr=500/noprompt"),
                                                                  QStringLiteral("-b"), QStringLiteral("o=Gym,dc=schule,dc=test"),
                                                                  QStringLiteral("(objectClass=inetOrgPerson)"), QStringLiteral("ou")});
        theirs.push_back(theirSearch.wallMs);
        theirCpu.push_back(theirSearch.cpuMs);

        // The same 10,000 changes, by us one store at a time, then by ldapmodify.
        const Timing store = runProcess(self, {QStringLiteral("--store"), QString::number(round)});
        stores.push_back(store.wallMs / kChanges);
        storeCpu.push_back(store.cpuMs / kChanges);
        QFile changes(dir.filePath(QStringLiteral("changes.ldif")));
        changes.open(QIODevice::WriteOnly | QIODevice::Truncate);
        for (int i = 0; i < kChanges; ++i) {
            const QString name = userName(i);
            const QString unit = name.section(QLatin1Char('\\'), -2, -2);
            const QString user = name.section(QLatin1Char('\\'), -1);
            changes.write(QStringLiteral("dn: cn=%1,ou=%2,o=Gym,dc=schule,dc=test\nchangetype: modify\nreplace: ou\nou: Anders %3 %4\n-\n\n")
                              .arg(user, unit).arg(round).arg(i).toUtf8());
        }
        changes.close();
        const Timing modify = runProcess(QStringLiteral("ldapmodify"), login, changes.fileName());
        modifies.push_back(modify.wallMs / kChanges);
        modifyCpu.push_back(modify.cpuMs / kChanges);
    }

    std::printf("LDAP tree on slapd, %d users in %d OUs; medians of %d interleaved rounds; each side a process of its own\n",
                kUsers, kUnits, kRounds);
    std::printf("  subtree search:  %.0f ms for %lld users; ldapsearch -E pr=500 %.0f ms; ratio %.2f (target <= 1.2)\n",
                median(ours), static_cast<long long>(hits), median(theirs), median(ours) / median(theirs));
    std::printf("  its CPU time:    %.0f ms; ldapsearch %.0f ms; ratio %.2f (target <= 1.5)\n", median(ourCpu), median(theirCpu),
                median(ourCpu) / median(theirCpu));
    std::printf("  peak memory:     the tree's search grows %.1f MiB; raw UTF-8 of its full names, DNs and values %.1f MiB;"
                " ratio %.2f (target <= 1.2)\n", median(growth), rawMiB, median(growth) / rawMiB);
    std::printf("  put-and-store:   %.3f ms per change; ldapmodify %.3f ms per change of %d; ratio %.2f\n",
                median(stores), median(modifies), kChanges, median(stores) / median(modifies));
    std::printf("  its CPU time:    %.3f ms per change; ldapmodify %.3f ms; ratio %.2f (target <= 1.2)\n",
                median(storeCpu), median(modifyCpu), median(storeCpu) / median(modifyCpu));
    return 0;
}
