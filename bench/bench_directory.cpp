// The embedded directory, against libldap's own parse of the same file
// (ldif_read_record + ldap_parse_ldif_record) measured in the same run:
// load time (CPU time; a load and a parse alternate, and the median of the
// pairs' ratios counts), peak memory after loading 10k, 100k and 1M users
// (each load in a process of its own), journal replay (loads with and without
// the journal alternate, each pair's difference against a parse of the
// journal), Windows line ends against Unix ones, and the put-and-store with
// its flush to disk. Beside the CPU-time ratios, the ratios of instructions
// run (valgrind's cachegrind, without its cache simulation, where valgrind is
// installed), which a busy machine does not disturb, and the load average.
//
//   bench_directory [--quick]    (--quick: no 1M-user tree)
#include "measure.h"
#include "directory/embedded/ldif_tree.h"
#include "generate_tree.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <ldap.h>
#include <ldif.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <cstdio>
#include <vector>

namespace {
using bench::median;
using bench::cpuMs;

constexpr int kRounds = 5;
// The replay is a difference of two loads, and noisier than each.
constexpr int kReplayRounds = 9;

// Pages this process touched first (minor faults), from its start.
long minorFaults()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// Child modes; each prints "<CPU milliseconds> <peak RSS MiB> <minor faults>":
// CPU time of this process, as on a machine shared with other work elapsed
// time would measure the others too.
int loadTree(const QString &path)
{
    const double start = cpuMs();
    directory::LdifTree tree(QStringLiteral("BENCH"), path, QString(), directory::SchemaMap());
    const double ms = cpuMs() - start;
    std::printf("%.1f %.1f %ld\n", ms, memoryMiB("VmHWM:"), minorFaults());
    return 0;
}

int parseWithLibldap(const QString &path)
{
    const double start = cpuMs();
    LDIFFP *fp = ldif_open(QFile::encodeName(path).constData(), "r");
    if (!fp)
        return 1;
    unsigned long line = 0;
    char *buffer = nullptr;
    int size = 0;
    long records = 0;
    bool failed = false; // every record must parse, as the load refuses a tree with one that does not
    while (!failed && ldif_read_record(fp, &line, &buffer, &size) > 0) {
        berval text{static_cast<ber_len_t>(std::strlen(buffer)), buffer};
        LDIFRecord record{};
        failed = ldap_parse_ldif_record(&text, line, &record, "bench", LDIF_DEFAULT_ADD | LDIF_NO_CONTROLS) != LDAP_SUCCESS;
        if (!failed) {
            ++records;
            ldap_ldif_record_done(&record);
        }
    }
    ber_memfree(buffer);
    ldif_close(fp);
    const double ms = cpuMs() - start;
    std::printf("%.1f %.1f %ld\n", ms, memoryMiB("VmHWM:"), minorFaults());
    return records > 0 && !failed ? 0 : 1;
}

struct Run {
    double ms = 0;
    double peakMiB = 0;
    double faults = 0;
};

Run child(const QString &mode, const QString &path)
{
    QProcess process;
    process.start(QCoreApplication::applicationFilePath(), {mode, path});
    process.waitForFinished(-1);
    const QList<QByteArray> fields = process.readAllStandardOutput().trimmed().split(' ');
    if (process.exitCode() != 0 || fields.size() != 3) {
        std::fprintf(stderr, "%s %s failed: %s\n", qPrintable(mode), qPrintable(path), process.readAllStandardError().constData());
        std::exit(1);
    }
    return {fields[0].toDouble(), fields[1].toDouble(), fields[2].toDouble()};
}

// Instructions that a child mode runs, as valgrind counts them; 0 without valgrind.
double instructions(const QString &mode, const QString &path)
{
    QProcess process;
    process.start(QStringLiteral("valgrind"), {QStringLiteral("--tool=cachegrind"), QStringLiteral("--cache-sim=no"),
                                               QStringLiteral("--cachegrind-out-file=/dev/null"),
                                               QCoreApplication::applicationFilePath(), mode, path});
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return 0;
    const QRegularExpressionMatch refs = QRegularExpression(QStringLiteral("I\\s+refs:\\s+([\\d,]+)"))
                                             .match(QString::fromLocal8Bit(process.readAllStandardError()));
    return refs.hasMatch() ? refs.captured(1).remove(QLatin1Char(',')).toDouble() : 0;
}

// The system's load average over 1, 5 and 15 minutes.
QByteArray loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return "unknown";
    return file.readAll().split(' ').mid(0, 3).join(' ');
}

// Runs the modes in turn, `rounds` times: a machine busy with other work
// slows the runs of one round alike. Returns each round's runs.
std::vector<std::vector<Run>> rounds(const QList<QPair<QString, QString>> &modes, int count)
{
    std::vector<std::vector<Run>> result;
    for (int round = 0; round < count; ++round) {
        std::vector<Run> runs;
        for (const auto &[mode, path] : modes)
            runs.push_back(child(mode, path));
        result.push_back(runs);
    }
    return result;
}

// The median over the rounds of `figure(one round's runs)`.
template <typename Figure>
double medianOf(const std::vector<std::vector<Run>> &rounds, Figure figure)
{
    std::vector<double> figures;
    for (const std::vector<Run> &runs : rounds)
        figures.push_back(figure(runs));
    return median(figures);
}

void copyWithLineEnds(const QString &from, const QString &to, const QByteArray &lineEnd)
{
    QFile in(from);
    in.open(QIODevice::ReadOnly);
    QFile out(to);
    out.open(QIODevice::WriteOnly | QIODevice::Truncate);
    out.write(in.readAll().replace("\n", lineEnd));
}

// One change per user, as a run writes them.
void writeJournal(const QString &path, int users, int units)
{
    QByteArray out;
    for (int i = 0; i < users; ++i)
        out += "dn: cn=Schueler " + QByteArray::number(i) + ",ou=K" + QByteArray::number(i % units)
               + ",o=Gym\nchangetype: modify\nadd: ou\nou: Klasse " + QByteArray::number(i % units) + "\n-\n\n";
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(out);
}

double medianStoreMs(const QString &folder)
{
    const QString path = generateTree(folder + QStringLiteral("/store.ldif"), 10000, 400);
    directory::LdifTree tree(QStringLiteral("BENCH"), path, QString(), directory::SchemaMap());
    std::vector<double> stores;
    for (int i = 0; i < 200; ++i) {
        QElapsedTimer one;
        one.start();
        tree.putAndStore(QStringLiteral("NDS:\\\\BENCH\\Gym\\K%1\\Schueler %2").arg(i % 400).arg(i),
                         QStringLiteral("OU"), QStringLiteral("Klasse %1").arg(i));
        stores.push_back(one.nsecsElapsed() / 1e6);
    }
    std::sort(stores.begin(), stores.end());
    for (const char *suffix : {"", ".journal", ".lock"})
        QFile::remove(path + QLatin1String(suffix));
    return stores[100];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == QLatin1String("--load"))
        return loadTree(args[2]);
    if (args.size() == 3 && args[1] == QLatin1String("--parse"))
        return parseWithLibldap(args[2]);
    const bool quick = args.contains(QStringLiteral("--quick"));

    QTemporaryDir dir;
    const auto file = [&](const char *name) { return dir.filePath(QLatin1String(name)); };
    std::printf("embedded tree: CPU-time ratios against libldap's parse of the same file, median of %d alternated pairs\n", kRounds);
    std::printf("  load average at the start: %s\n", loadAverage().constData());

    std::printf("  users    load ms   parse ms   load/parse (target <= 2.5)   peak MiB (target <= 100 at 100k)\n");
    for (int users : {10000, 100000, 1000000}) {
        if (quick && users > 100000)
            continue;
        const QString path = generateTree(dir.filePath(QStringLiteral("users%1.ldif").arg(users)), users, users / 25);
        const auto pairs = rounds({{QStringLiteral("--load"), path}, {QStringLiteral("--parse"), path}}, kRounds);
        std::printf("  %7d %9.0f %10.0f %12.2f %30.0f\n", users, medianOf(pairs, [](const auto &r) { return r[0].ms; }),
                    medianOf(pairs, [](const auto &r) { return r[1].ms; }),
                    medianOf(pairs, [](const auto &r) { return r[0].ms / r[1].ms; }),
                    medianOf(pairs, [](const auto &r) { return r[0].peakMiB; }));
        std::printf("  %7d first touches of pages (minor faults): load %.0f, parse %.0f\n", users,
                    medianOf(pairs, [](const auto &r) { return r[0].faults; }),
                    medianOf(pairs, [](const auto &r) { return r[1].faults; }));
        if (users > 100000)
            QFile::remove(path);
    }

    const QString lf = file("users100000.ldif");
    const double loadInstructions = instructions(QStringLiteral("--load"), lf);
    const double parseInstructions = instructions(QStringLiteral("--parse"), lf);
    if (loadInstructions > 0 && parseInstructions > 0)
        std::printf("  instructions, 100000 users: load/parse %.2f (%.0fM against %.0fM)\n", loadInstructions / parseInstructions,
                    loadInstructions / 1e6, parseInstructions / 1e6);
    const QString crlf = file("crlf.ldif");
    copyWithLineEnds(lf, crlf, "\r\n");
    const double lineEnds = medianOf(rounds({{QStringLiteral("--load"), crlf}, {QStringLiteral("--load"), lf}}, kRounds),
                                     [](const auto &r) { return r[0].ms / r[1].ms; });
    std::printf("  Windows line ends against Unix ones: %.2f (target <= 1.2)\n", lineEnds);

    // The replay is what a load with the journal costs beyond one without:
    // each round loads with and without it, and parses the journal.
    const QString journaled = file("journaled.ldif");
    QFile::copy(lf, journaled);
    const QString journal = journaled + QStringLiteral(".journal");
    writeJournal(journal, 100000, 4000);
    const auto triples = rounds({{QStringLiteral("--load"), journaled},
                                 {QStringLiteral("--load"), lf},
                                 {QStringLiteral("--parse"), journal}},
                                kReplayRounds);
    const double replayMs = medianOf(triples, [](const auto &r) { return r[0].ms - r[1].ms; });
    const double replay = medianOf(triples, [](const auto &r) { return (r[0].ms - r[1].ms) / r[2].ms; });
    std::printf("  journal of 100000 records: replay %.0f ms (%.1f us a record), against its parse: %.2f (target <= 1.5,"
                " median of %d rounds)\n",
                replayMs, replayMs * 1000.0 / 100000, replay, kReplayRounds);

    const double journaledInstructions = instructions(QStringLiteral("--load"), journaled);
    const double journalParseInstructions = instructions(QStringLiteral("--parse"), journal);
    if (journaledInstructions > 0 && journalParseInstructions > 0)
        std::printf("  instructions, journal of 100000 records: replay/parse %.2f\n",
                    (journaledInstructions - loadInstructions) / journalParseInstructions);

    std::printf("  put-and-store, median of 200: %.3f ms here (with its flush to disk)", medianStoreMs(dir.path()));
    if (QDir(QStringLiteral("/dev/shm")).exists()) {
        QTemporaryDir memory(QStringLiteral("/dev/shm/bench_directory_XXXXXX"));
        std::printf(", %.3f ms in memory (/dev/shm)", medianStoreMs(memory.path()));
    }
    std::printf("\n");
    std::printf("  load average at the end: %s\n", loadAverage().constData());
    return 0;
}
