// The preview of a run over 10,000 users (400 classes of 25) on an embedded
// tree: wall and CPU time from F5 to the preview drawn on screen, then the
// cost of one page of scrolling through its users. Prints the load average,
// since a busy machine stretches the wall times.
//
//   bench_preview [users]    (default 10000)
#include "measure.h"
#include "directory/client.h"
#include "generate_tree.h"
#include "nwcontrols/register_controls.h"
#include "ui/Klassomat_U.h"
#include "ui/preview_window.h"
#include "ui/radio_group.h"
#include "ui/log_list.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <vector>

namespace {

struct Opened {
    double wallMs = 0;
    double cpuMs = 0;
    double pageCpuMs = 0; // one page down, drawn
    int rows = 0;
};

// Presses F5's action and measures until the preview has been drawn (into
// a picture: a window just shown is not yet exposed to paint itself), then
// pages through its users and closes it.
Opened openPreview(TForm1 &form)
{
    Opened opened;
    QElapsedTimer clock;
    const double cpuStart = bench::cpuMs();
    QTimer poll;
    poll.setInterval(0);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *preview = qobject_cast<ui::PreviewWindow *>(QApplication::activeModalWidget());
        if (!preview || !preview->isVisible())
            return;
        poll.stop();
        preview->grab(); // draws the whole window once, as its first paint does
        opened.rows = preview->Users->model()->rowCount();
        opened.wallMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        opened.cpuMs = bench::cpuMs() - cpuStart;
        QScrollBar *bar = preview->Users->verticalScrollBar();
        constexpr int kPages = 50;
        const double pagesStart = bench::cpuMs();
        for (int page = 0; page < kPages; ++page) {
            bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
            preview->Users->viewport()->grab();
        }
        bar->triggerAction(QAbstractSlider::SliderToMaximum);
        preview->Users->viewport()->grab();
        opened.pageCpuMs = (bench::cpuMs() - pagesStart) / (kPages + 1);
        preview->reject();
    });
    clock.start();
    poll.start();
    for (QAction *action : form.ListBox1->actions()) {
        if (action->text() == QStringLiteral("Vorschau…"))
            action->trigger();
    }
    return opened;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int users = argc > 1 ? std::atoi(argv[1]) : 10000;
    QTemporaryDir dir;
    generateTree(dir.filePath(QStringLiteral("schule.ldif")), users, users / 25);
    QFile classes(dir.filePath(QStringLiteral("Klassen.txt")));
    classes.open(QIODevice::WriteOnly);
    for (int unit = 0; unit < users / 25; unit += 2) // every other class has a line: both verdicts show
        classes.write(QByteArray::number(unit % 13 + 5) + "x;K" + QByteArray::number(unit) + "\n");
    classes.close();
    attachTrees(dir.path(), "[SCHULE]\nldif=schule.ldif\n");
    directory::Client client;
    nwcontrols::registerControls(client);

    TForm1 form(dir.path());
    form.show();
    form.FStartContext = QStringLiteral("NDS:\\\\SCHULE\\Gym");
    form.EdContext->setText(QStringLiteral("Gym"));
    form.ChSub->setChecked(true);
    form.raForm->setItemIndex(1);

    if (openPreview(form).rows != users) {
        std::fprintf(stderr, "the preview does not show the %d users\n", users);
        return 1;
    }
    std::vector<double> wall, cpu, page;
    for (int round = 0; round < 5; ++round) {
        const Opened opened = openPreview(form);
        wall.push_back(opened.wallMs);
        cpu.push_back(opened.cpuMs);
        page.push_back(opened.pageCpuMs);
    }
    double load[3] = {};
    getloadavg(load, 3);
    std::printf("preview of %d users (median of 5, %s): opened in %.0f ms wall, %.0f ms CPU "
                "(%.1f µs CPU per user; at most 1 s: ratio %.2f); one page of scrolling %.2f ms CPU; load average %.2f %.2f %.2f\n",
                users, qPrintable(QApplication::platformName()), bench::median(wall), bench::median(cpu),
                bench::median(cpu) * 1000.0 / users, bench::median(wall) / 1000.0, bench::median(page), load[0], load[1], load[2]);
    return 0;
}
