// `klassomat run` and `klassomat preview` as processes, each against its anchor
// measured in the same run (median of 5):
//   run of 10,000 users on slapd        vs one ldapmodify applying the same changes
//   run of 10,000 users, embedded tree  (every write and the record synced)
//   preview of 100,000 users on slapd   vs a paged ldapsearch returning ou
// and how the preview's CPU splits: the search, and the plan with its listing
// (measured inside one process: the search alone, then the whole preview).
#include "cli/commands.h"
#include "cli/session.h"
#include "measure.h"
#include "process_cost.h"
#include "generate_tree.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {
using bench::median;
const QString kAdmin = QStringLiteral("cn=admin,dc=schule,dc=test");
constexpr int kRounds = 5;

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &content)
{
    QFile file(dir.filePath(name));
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(content);
    return file.fileName();
}

// In a process of its own, on the tree of the environment: the CPU of the
// search alone and of the whole preview, each the median of three, as "SEARCH PREVIEW".
int measureSplit(const QString &context)
{
    std::vector<double> search, preview;
    const int terminal = ::dup(STDOUT_FILENO);
    const int nothing = ::open("/dev/null", O_WRONLY);
    for (int round = 0; round < 3; ++round) {
        double start = bench::cpuMs();
        {
            cli::Session session({});
            const auto users = session.search(session.resolveContext(context), QStringLiteral("User"), true);
            Q_UNUSED(users)
        }
        search.push_back(bench::cpuMs() - start);
        cli::Options o;
        o.context = context;
        o.subtree = true;
        ::dup2(nothing, STDOUT_FILENO); // the listing goes where a pipe would take it
        start = bench::cpuMs();
        cli::preview(o);
        cli::out().flush();
        preview.push_back(bench::cpuMs() - start);
        ::dup2(terminal, STDOUT_FILENO);
    }
    std::printf("%.0f %.0f\n", median(search), median(preview));
    return 0;
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
    if (argc == 3 && qstrcmp(argv[1], "--split") == 0)
        return measureSplit(QString::fromUtf8(argv[2]));
    QTemporaryDir dir;
    // School-like classes of 25: 100,000 users in 4,000 classes for the
    // preview, and beside them 10,000 users in 400 classes for the run.
    constexpr int kRunUsers = 10000;
    constexpr int kRunClasses = kRunUsers / 25;
    const QByteArray top = "dn: dc=schule,dc=test\nobjectClass: dcObject\nobjectClass: organization\no: Schule\ndc: schule\n\n";
    QFile all(generateTree(dir.filePath(QStringLiteral("data.ldif")), 100000, 4000, 0, ",dc=schule,dc=test", top));
    QFile runPart(generateTree(dir.filePath(QStringLiteral("run.ldif")), kRunUsers, kRunClasses, 0, ",ou=Lauf,dc=schule,dc=test",
                               "dn: ou=Lauf,dc=schule,dc=test\nobjectClass: organizationalUnit\nou: Lauf\n\n"));
    runPart.open(QIODevice::ReadOnly);
    all.open(QIODevice::Append);
    all.write("\n" + runPart.readAll());
    all.close();
    const QString data = all.fileName();
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
    generateTree(dir.filePath(QStringLiteral("embedded.ldif")), kRunUsers, kRunClasses);
    const auto embeddedEnv = environment(writeFile(dir, QStringLiteral("embedded.ini"), "[BENCH]\nldif=embedded.ldif\n"),
                                         dir.filePath(QStringLiteral("data")));
    const QStringList bind{QStringLiteral("-x"), QStringLiteral("-H"), uri, QStringLiteral("-D"), kAdmin, QStringLiteral("-w"), QStringLiteral("geheim")};

    // Ratios are taken within a round, its pair run right after each other.
    std::vector<double> runs, modifies, runWall, runCpu, embedded, previews, searches, previewCpu;
    for (int round = 0; round < kRounds; ++round) {
        QByteArray changes;
        QByteArray classList;
        for (int i = 0; i < kRunUsers; ++i)
            changes += QStringLiteral("dn: cn=Schueler %1,ou=K%2,o=Gym,ou=Lauf,dc=schule,dc=test\nchangetype: modify\nreplace: ou\nou: A%3\n-\n\n")
                           .arg(i).arg(i % kRunClasses).arg(round).toUtf8();
        for (int u = 0; u < kRunClasses; ++u)
            classList += QStringLiteral("B%1x%2;K%2\n").arg(round).arg(u).toUtf8();
        const bench::ProcessCost modify = bench::runProcess(QStringLiteral("ldapmodify"), bind, changes);

        const QString classes = writeFile(dir, QStringLiteral("Klassen.txt"), classList);
        const QStringList run{QStringLiteral("run"), QStringLiteral("--context"), QStringLiteral("o=Gym,ou=Lauf,dc=schule,dc=test"),
                              QStringLiteral("--subtree"), QStringLiteral("--form"), QStringLiteral("1"), QStringLiteral("--classes"), classes,
                              QStringLiteral("--yes")};
        const bench::ProcessCost ran = bench::runProcess(QStringLiteral(KLASSOMAT_EXECUTABLE), run, {}, ldapEnv);
        runs.push_back(ran.wallMs);
        modifies.push_back(modify.wallMs);
        runWall.push_back(ran.wallMs / modify.wallMs);
        runCpu.push_back(ran.cpuMs / modify.cpuMs);
        const QStringList embeddedRun{QStringLiteral("run"), QStringLiteral("--context"), QStringLiteral("Gym"), QStringLiteral("--subtree"),
                                      QStringLiteral("--form"), QStringLiteral("1"), QStringLiteral("--classes"), classes, QStringLiteral("--yes")};
        embedded.push_back(bench::runProcess(QStringLiteral(KLASSOMAT_EXECUTABLE), embeddedRun, {}, embeddedEnv).wallMs);

        const bench::ProcessCost preview = bench::runProcess(QStringLiteral(KLASSOMAT_EXECUTABLE),
                                         {QStringLiteral("preview"), QStringLiteral("--context"), QStringLiteral("o=Gym,dc=schule,dc=test"),
                                          QStringLiteral("--subtree"), QStringLiteral("--form"), QStringLiteral("0")},
                                         {}, ldapEnv);
        const bench::ProcessCost search = bench::runProcess(QStringLiteral("ldapsearch"),
                                        bind + QStringList{QStringLiteral("-LLL"), QStringLiteral("-E"), QStringLiteral("pr=1000/noprompt"),
                                                           QStringLiteral("-b"), QStringLiteral("o=Gym,dc=schule,dc=test"),
                                                           QStringLiteral("(objectClass=inetOrgPerson)"), QStringLiteral("ou")});
        previews.push_back(preview.wallMs);
        searches.push_back(search.wallMs);
        previewCpu.push_back(preview.cpuMs / search.cpuMs);
    }
    QProcess split;
    split.setProcessEnvironment(ldapEnv);
    split.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--split"), QStringLiteral("o=Gym,dc=schule,dc=test")});
    split.waitForFinished(600000);
    const QStringList parts = QString::fromUtf8(split.readAllStandardOutput()).simplified().split(QLatin1Char(' '));
    const double splitSearch = parts.value(0).toDouble();
    const double splitPreview = parts.value(1).toDouble();
    QProcess::execute(QStringLiteral("bash"), {QStringLiteral(KLASSOMAT_SLAPD_SCRIPT), QStringLiteral("stop"), slapd});

    std::printf("klassomat on the command line, classes of 25, median of %d rounds (ratios within a round)\n", kRounds);
    std::printf("  run, %d users, slapd:      %.0f ms; ldapmodify of the same changes %.0f ms\n", kRunUsers, median(runs), median(modifies));
    std::printf("    wall ratio %.2f (target <= 0.6), CPU ratio %.2f (target <= 1.0)\n", median(runWall), median(runCpu));
    std::printf("  run, %d users, embedded:   %.0f ms (target <= 2000)\n", kRunUsers, median(embedded));
    std::printf("  preview, 100000 users, slapd: %.0f ms; paged ldapsearch with ou %.0f ms; CPU ratio %.2f (target <= 1.3)\n",
                median(previews), median(searches), median(previewCpu));
    std::printf("    its CPU inside the process: the search %.0f ms, the plan and its listing %.0f ms (%.0f %%)\n", splitSearch,
                splitPreview - splitSearch, splitPreview > 0 ? 100.0 * (splitPreview - splitSearch) / splitPreview : 0.0);
    bench::printLoadAverage();
    return 0;
}
