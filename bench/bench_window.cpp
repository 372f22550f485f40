// The main window on an embedded tree of 1,000,000 users (200 year OUs of 200
// classes of 25 pupils): CPU time to bring the window up once the tree is
// loaded, the container browser listing the top containers and opening a
// year and a class, a run over one class, and the peak memory of it all.
//
//   bench_window [users]    (default 1000000)
#include "measure.h"
#include "window_platform.h"
#include "directory/client.h"
#include "directory/embedded/ldif_tree.h"
#include "generate_tree.h"
#include "nwcontrols/register_controls.h"
#include "ui/Klassomat_U.h"
#include "ui/OUBrowser_U.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <cstdio>
#include <ctime>
#include <functional>

namespace {
using bench::cpuMs;

constexpr int kClassSize = 25;
constexpr int kClassesPerYear = 200;

// Written by a process of its own, so that the text built does not count
// towards this one's peak memory.
void writeTree(const QString &path, int users)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::exit(1);
    file.write("dn: o=Gym\nobjectClass: organization\no: Gym\n\n");
    const int classes = users / kClassSize;
    for (int c = 0; c < classes; ++c) {
        const QByteArray year = "J" + QByteArray::number(c / kClassesPerYear);
        const QByteArray unit = "K" + QByteArray::number(c);
        QByteArray out;
        if (c % kClassesPerYear == 0)
            out += "dn: ou=" + year + ",o=Gym\nobjectClass: organizationalUnit\nou: " + year + "\n\n";
        const QByteArray unitDn = "ou=" + unit + ",ou=" + year + ",o=Gym";
        out += "dn: " + unitDn + "\nobjectClass: organizationalUnit\nou: " + unit + "\n\n";
        for (int i = 0; i < kClassSize; ++i) {
            const QByteArray n = QByteArray::number(c * kClassSize + i);
            out += "dn: cn=Schueler " + n + "," + unitDn + "\nobjectClass: top\nobjectClass: person\n"
                   "objectClass: organizationalPerson\nobjectClass: inetOrgPerson\ncn: Schueler " + n + "\nsn: S" + n
                   + "\nuid: s" + n + "\n\n";
        }
        file.write(out);
    }
}

// Runs `step` from the message pump and returns its wall milliseconds and CPU milliseconds.
struct Cost {
    double wallMs;
    double cpuMs;
};
template <typename Step>
Cost measure(Step step)
{
    QElapsedTimer clock;
    clock.start();
    const double cpu = cpuMs();
    step();
    return {static_cast<double>(clock.nsecsElapsed()) / 1e6, cpuMs() - cpu};
}
} // namespace

int main(int argc, char *argv[])
{
    if (argc == 4 && QByteArray(argv[1]) == "--write") {
        writeTree(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt());
        return 0;
    }
    const char *platform = bench::choosePlatform();
    QApplication app(argc, argv);
    const int users = argc > 1 ? QByteArray(argv[1]).toInt() : 1000000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.ldif"));
    if (QProcess::execute(QCoreApplication::applicationFilePath(), {QStringLiteral("--write"), path, QString::number(users)}) != 0)
        return 1;
    attachTrees(dir.path(), "[BENCH]\nldif=big.ldif\n");

    directory::Client client;
    const Cost load = measure([&] { client.tree(QStringLiteral("BENCH")); });
    const double loadedMiB = memoryMiB("VmRSS:");
    nwcontrols::registerControls(client);

    // The window: built, shown and painted once.
    std::unique_ptr<TForm1> form;
    const Cost window = measure([&] {
        form = std::make_unique<TForm1>(dir.path());
        form->show();
        QCoreApplication::processEvents();
        form->repaint();
    });

    // The browser: the top containers, then a year (200 classes), then a class of 25.
    auto *browser = new TouBrowser(form.get());
    browser->FBase = QStringLiteral("[Root]");
    browser->FFilter = QStringLiteral("Organizational Unit,Organization,Top");
    browser->SetExpandMode(1);
    Cost open{}, year{}, unit{};
    int yearRows = -1;
    QElapsedTimer openClock;
    const double openCpu = cpuMs();
    std::function<void()> step = [&] {
        auto *view = browser->findChild<QTreeView *>();
        if (view->model()->rowCount() == 0) { // the browser has not filled the view yet
            QTimer::singleShot(0, browser, step);
            return;
        }
        const QModelIndex root = view->model()->index(0, 0);
        view->expand(root);
        const QModelIndex gym = view->model()->index(0, 0, root);
        view->expand(gym);
        view->repaint();
        open = {static_cast<double>(openClock.nsecsElapsed()) / 1e6, cpuMs() - openCpu};
        const QModelIndex first = view->model()->index(0, 0, gym);
        year = measure([&] {
            view->expand(first);
            view->repaint();
        });
        yearRows = view->model()->rowCount(first);
        const QModelIndex someClass = view->model()->index(yearRows / 2, 0, first);
        unit = measure([&] {
            view->setCurrentIndex(someClass);
            view->expand(someClass);
            view->repaint();
        });
        browser->reject();
    };
    QTimer::singleShot(0, browser, step);
    openClock.start();
    browser->exec();
    delete browser;

    // A run over one class, as the window runs it.
    const int someClass = users / kClassSize / 2;
    form->FStartContext = QStringLiteral("NDS:\\\\BENCH\\Gym\\J%1\\K%2").arg(someClass / kClassesPerYear).arg(someClass);
    const Cost run = measure([&] {
        form->SetRunButtonFace(form->FGlyphCancel);
        form->RunAssignment();
    });
    QFile journal(path + QStringLiteral(".journal"));
    journal.open(QIODevice::ReadOnly);
    const qsizetype written = journal.readAll().count("\ndn: ") + (journal.size() > 0 ? 1 : 0);

    std::printf("main window, embedded tree of %d users (200 years of 200 classes of 25)\n", users);
    std::printf("  load:                      %6.0f ms CPU (%.0f MiB resident after it)\n", load.cpuMs, loadedMiB);
    std::printf("  window up after the load:  %6.0f ms CPU, %.0f ms wall (target <= 1500 ms CPU)\n", window.cpuMs, window.wallMs);
    std::printf("  browser on the top:        %6.0f ms CPU, %.0f ms wall (target <= 100 ms)\n", open.cpuMs, open.wallMs);
    std::printf("  open a year (%d classes): %6.0f ms CPU, %.0f ms wall\n", yearRows, year.cpuMs, year.wallMs);
    std::printf("  open a class of 25:        %6.0f ms CPU, %.0f ms wall (target <= 100 ms)\n", unit.cpuMs, unit.wallMs);
    std::printf("  run over that class:       %6.0f ms CPU, %.0f ms wall, %lld users written\n", run.cpuMs, run.wallMs,
                static_cast<long long>(written));
    std::printf("  peak memory:               %6.0f MiB (target <= 450)\n", memoryMiB("VmHWM:"));
    std::printf("  platform: %s\n", platform);
    bench::printLoadAverage();
    return 0;
}
