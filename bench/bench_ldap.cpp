// On a real slapd with 100,000 users in 4,000 OUs (or as many users as the
// first argument says, in classes of 25), through the directory control as
// the program uses it:
// - the subtree search for all users against a paged `ldapsearch` with the
//   same page size, each a process of its own, start and bind included (wall
//   and CPU time);
// - the tree search's peak memory growth, in this process, against the raw
//   size (UTF-8 bytes) of the full names, DNs and values it returns;
// - storing 10,000 changes one at a time, as the window's run does (each
//   user's values as the search found them, and the new one), against one
//   `ldapmodify` process applying the same 10,000 changes. Only the store is
//   timed on both sides: ours by the CPU clock around the stores, after the
//   search that tells the tree where its users are; ldapmodify's as its
//   process's CPU time less that of an ldapmodify given no change (start,
//   connect and bind).
// Rounds alternate between ours and theirs; figures are medians of 5 rounds.
#include "measure.h"
#include "process_cost.h"
#include "directory/client.h"
#include "generate_tree.h"
#include "nwcontrols/NWDirLib_TLB.h"
#include "nwcontrols/register_controls.h"
#include "support/slapd_server.h"

#include <QCoreApplication>
#include <QHash>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <malloc.h>

namespace {
using bench::median;
const QString kAdmin = QStringLiteral("cn=admin,dc=schule,dc=test");
const QString kContext = QStringLiteral("NDS:\\\\BENCH\\Gym");
constexpr int kClassSize = 25;
constexpr int kChanges = 10000;
constexpr int kRounds = 5;

// Starts counting the peak resident set size afresh (Linux: clear_refs 5).
void resetPeakMemory()
{
    malloc_trim(0);
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// The i-th user to change, spread over the tree.
QString userName(int i, int users)
{
    const int user = static_cast<int>((static_cast<qint64>(i) * 7919) % users);
    return QStringLiteral("%1\\K%2\\Schueler %3").arg(kContext).arg(user % (users / kClassSize)).arg(user);
}

QString changedValue(int round, int i)
{
    return QStringLiteral("Wert %1 %2").arg(round).arg(i);
}

// Searches all users through the control, as a run does: each one's full name
// with its values of OU.
QHash<QString, QStringList> searchUsers(TNWDir &control)
{
    QHash<QString, QStringList> users;
    bool done = false;
    control.OnSearchCompleted = [&](TNWDir *, const QVariant &found) {
        for (const QVariant &hit : found.toList())
            users.insert(hit.toList().value(0).toString(), hit.toList().value(2).toStringList());
        done = true;
    };
    control.Search(QStringLiteral("OU"), QStringLiteral("User"), 2, kContext, 0);
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return users;
}
} // namespace

// The child modes: one search, printing how many it found; or the search and
// then the round's 10,000 stores, printing their CPU and wall time.
int child(const QString &mode, int round, int users)
{
    directory::Client client(QString(), [](const QString &, const QString &) { return QStringLiteral("geheim"); });
    nwcontrols::registerControls(client);
    TNWDir control;
    const QHash<QString, QStringList> found = searchUsers(control);
    if (mode == QLatin1String("--search")) {
        std::printf("%lld\n", static_cast<long long>(found.size()));
        return 0;
    }
    // As ldapmodify's input is written before it starts, so are the changes.
    QList<directory::ValueChange> changes;
    for (int i = 0; i < kChanges; ++i) {
        const QString user = userName(i, users);
        changes.append({user, QStringLiteral("OU"), found.value(user), {changedValue(round, i)}});
    }
    const double cpu0 = bench::cpuMs();
    QElapsedTimer clock;
    clock.start();
    for (const directory::ValueChange &change : std::as_const(changes)) {
        control.SetFullName(change.fullName);
        auto entry = control.Entry();
        entry.SetValues(change.attribute, change.before, change.after);
        entry.Update();
    }
    std::printf("%.3f %.3f\n", bench::cpuMs() - cpu0, static_cast<double>(clock.nsecsElapsed()) / 1e6);
    return 0;
}

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString first = argc >= 2 ? QString::fromLatin1(argv[1]) : QString();
    if (first.startsWith(QLatin1String("--")))
        return child(first, QString::fromLatin1(argv[2]).toInt(), QString::fromLatin1(argv[3]).toInt());
    const int users = first.isEmpty() ? 100000 : first.toInt();
    const int units = users / kClassSize;
    if (users < kChanges) {
        std::fprintf(stderr, "usage: bench_ldap [users, at least %d]\n", kChanges);
        return 2;
    }
    QTemporaryDir dir;
    const QString data = generateTree(dir.filePath(QStringLiteral("data.ldif")), users, units, 0, ",dc=schule,dc=test",
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

    std::vector<double> ours, ourCpu, theirs, theirCpu, growth, peak, stores, storeCpu, modifies, modifyCpu;
    double rawMiB = 0;
    qsizetype hits = 0;
    for (int round = 0; round < kRounds; ++round) {
        // The tree's search alone, for its memory.
        {
            bool found = false;
            resetPeakMemory();
            const double before = memoryMiB("VmRSS:");
            client.tree(QStringLiteral("BENCH")).search(kContext, QStringLiteral("User"), directory::Scope::Subtree, QStringLiteral("OU"),
                                                        [&](const directory::Found &found_, std::exception_ptr) {
                peak.push_back(memoryMiB("VmHWM:"));
                growth.push_back(peak.back() - before);
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

        const bench::ProcessCost search = bench::runProcess(self, {QStringLiteral("--search"), QString::number(round), QString::number(users)});
        ours.push_back(search.wallMs);
        ourCpu.push_back(search.cpuMs);
        const bench::ProcessCost theirSearch = bench::runProcess(QStringLiteral("ldapsearch"),
                                              login + QStringList{QStringLiteral("-LLL"), QStringLiteral("-E"), QStringLiteral("pr=1000/noprompt"),
                                                                  QStringLiteral("-b"), QStringLiteral("o=Gym,dc=schule,dc=test"),
                                                                  QStringLiteral("(objectClass=inetOrgPerson)"), QStringLiteral("ou")});
        theirs.push_back(theirSearch.wallMs);
        theirCpu.push_back(theirSearch.cpuMs);

        // The same 10,000 changes, by us one store at a time, then by
        // ldapmodify: each deletes the value found and adds the new one.
        // It times itself, and prints "CPU WALL" in milliseconds.
        QProcess storing;
        storing.start(self, {QStringLiteral("--store"), QString::number(round), QString::number(users)});
        storing.waitForFinished(1200000);
        const QList<QByteArray> store = storing.readAllStandardOutput().trimmed().split(' ');
        storeCpu.push_back(store.value(0).toDouble() / kChanges);
        stores.push_back(store.value(1).toDouble() / kChanges);
        QByteArray changes;
        for (int i = 0; i < kChanges; ++i) {
            const QString name = userName(i, users);
            changes += QStringLiteral("dn: cn=%1,ou=%2,o=Gym,dc=schule,dc=test\nchangetype: modify\ndelete: ou\nou: %3\n-\nadd: ou\nou: Anders %4 %5\n-\n\n")
                              .arg(name.section(QLatin1Char('\\'), -1), name.section(QLatin1Char('\\'), -2, -2), changedValue(round, i))
                              .arg(round).arg(i).toUtf8();
        }
        const bench::ProcessCost modify = bench::runProcess(QStringLiteral("ldapmodify"), login, changes);
        const bench::ProcessCost connectOnly = bench::runProcess(QStringLiteral("ldapmodify"), login);
        modifies.push_back((modify.wallMs - connectOnly.wallMs) / kChanges);
        modifyCpu.push_back((modify.cpuMs - connectOnly.cpuMs) / kChanges);
    }

    std::printf("LDAP tree on slapd, %d users in %d OUs; medians of %d interleaved rounds\n", users, units, kRounds);
    std::printf("  subtree search, each side a process of its own, start and bind included:\n");
    std::printf("    wall: %.0f ms for %lld users; ldapsearch -E pr=1000 %.0f ms; ratio %.2f (target <= 1.2)\n",
                median(ours), static_cast<long long>(hits), median(theirs), median(ours) / median(theirs));
    std::printf("    CPU:  %.0f ms; ldapsearch %.0f ms; ratio %.2f (target <= 1.5)\n", median(ourCpu), median(theirCpu),
                median(ourCpu) / median(theirCpu));
    std::printf("  peak memory growth of the tree's search, divided by the raw UTF-8 size of the full names, DNs and values it returns:\n");
    std::printf("    %.1f MiB / %.1f MiB = %.2f (target <= 1.2); the process's peak %.1f MiB\n", median(growth), rawMiB,
                median(growth) / rawMiB, median(peak));
    std::printf("  storing %d changes one at a time, only the store timed (ours: CPU clock around it; ldapmodify: its process\n"
                "  less an ldapmodify given no change):\n", kChanges);
    std::printf("    wall: %.3f ms per change; ldapmodify %.3f ms; ratio %.2f\n", median(stores), median(modifies),
                median(stores) / median(modifies));
    std::printf("    CPU:  %.3f ms per change; ldapmodify %.3f ms; ratio %.2f (target <= 1.2)\n", median(storeCpu), median(modifyCpu),
                median(storeCpu) / median(modifyCpu));
    bench::printLoadAverage();
    return 0;
}
