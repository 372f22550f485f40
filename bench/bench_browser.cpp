// The container browser expanding an OU of 10,000 child OUs until the view
// shows the last of them, against a QTreeView over a QStandardItemModel filled
// with the same 10,000 names, each with an icon and a placeholder child, since
// a browser must draw both (a bare list would flatter the anchor). Interleaved pairs; medians of CPU time
// (the whole process) and wall time.
#include "measure.h"
#include "window_platform.h"
#include "directory/client.h"
#include "generate_tree.h"
#include "nwcontrols/register_controls.h"
#include "ui/Klassomat_U.h"
#include "ui/OUBrowser_U.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QPixmap>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {
using bench::median;
using bench::cpuMs;

constexpr int kChildren = 10000;
constexpr int kRounds = 9;

struct Cost {
    double cpuMs;
    double wallMs;
};

template <typename Work>
Cost measure(Work work)
{
    QApplication::processEvents();
    const double cpu = cpuMs();
    QElapsedTimer wall;
    wall.start();
    work();
    return {cpuMs() - cpu, static_cast<double>(wall.nsecsElapsed()) / 1e6};
}

QModelIndex childNamed(const QAbstractItemModel *model, const QModelIndex &parent, const QString &name)
{
    for (int r = 0; r < model->rowCount(parent); ++r) {
        if (model->index(r, 0, parent).data().toString() == name)
            return model->index(r, 0, parent);
    }
    return {};
}

// Expands `node` and shows its last child.
void showAll(QTreeView *view, const QModelIndex &node)
{
    view->expand(node);
    view->scrollTo(view->model()->index(view->model()->rowCount(node) - 1, 0, node));
    view->repaint();
}

Cost browser(TForm1 &form)
{
    TouBrowser dialog(&form);
    dialog.FBase = QStringLiteral("[Root]");
    dialog.FFilter = QStringLiteral("Organizational Unit,Organization,Top");
    dialog.SetExpandMode(1);
    dialog.show();
    auto *view = dialog.findChild<QTreeView *>();
    while (view->model()->rowCount() == 0) // FormShow fills it from the message loop
        QApplication::processEvents();
    const QModelIndex gym = childNamed(view->model(), view->model()->index(0, 0), QStringLiteral("Gym"));
    view->expand(gym);
    const QModelIndex big = childNamed(view->model(), gym, QStringLiteral("Gross"));
    const Cost cost = measure([&] { showAll(view, big); });
    if (view->model()->rowCount(big) != kChildren)
        std::printf("  the browser listed %d children\n", view->model()->rowCount(big));
    return cost;
}

Cost anchorTreeView(const QIcon &icon)
{
    QTreeView view;
    view.resize(297, 169);
    view.setHeaderHidden(true);
    view.setUniformRowHeights(true);
    QStandardItemModel model;
    view.setModel(&model);
    auto *big = new QStandardItem(QStringLiteral("Gross"));
    model.appendRow(big);
    view.show();
    return measure([&] {
        QList<QStandardItem *> rows;
        rows.reserve(kChildren);
        for (int i = 0; i < kChildren; ++i) {
            auto *row = new QStandardItem(icon, QStringLiteral("G%1").arg(i));
            row->appendRow(new QStandardItem);
            rows.append(row);
        }
        big->appendRows(rows);
        showAll(&view, big->index());
    });
}

} // namespace

int main(int argc, char *argv[])
{
    const char *platform = bench::choosePlatform();
    QApplication app(argc, argv);
    QTemporaryDir dir;
    generateTree(dir.filePath(QStringLiteral("big.ldif")), 1000, 40, kChildren);
    attachTrees(dir.path(), "[BENCH]\nldif=big.ldif\n");
    directory::Client client;
    client.tree(QStringLiteral("BENCH")); // loading the file is measured elsewhere
    nwcontrols::registerControls(client);
    TForm1 form(dir.path());

    QPixmap picture(16, 16);
    picture.fill(Qt::darkYellow);
    const QIcon icon(picture);
    std::vector<double> cpuRatio, wallRatio, ourCpu, bareCpu, ourWall, bareWall;
    for (int round = 0; round < kRounds; ++round) {
        const Cost ours = browser(form);
        const Cost bare = anchorTreeView(icon);
        ourCpu.push_back(ours.cpuMs);
        bareCpu.push_back(bare.cpuMs);
        ourWall.push_back(ours.wallMs);
        bareWall.push_back(bare.wallMs);
        cpuRatio.push_back(ours.cpuMs / bare.cpuMs);
        wallRatio.push_back(ours.wallMs / bare.wallMs);
    }
    std::printf("container browser, an OU of %d child OUs, %d interleaved pairs (medians)\n", kChildren, kRounds);
    std::printf("  browser:          %7.1f ms CPU  %7.1f ms wall\n", median(ourCpu), median(ourWall));
    std::printf("  QTreeView anchor: %7.1f ms CPU  %7.1f ms wall\n", median(bareCpu), median(bareWall));
    std::printf("  ratio:            %7.2f CPU     %7.2f wall (target CPU <= 1.3)\n", median(cpuRatio), median(wallRatio));
    std::printf("  platform: %s\n", platform);
    bench::printLoadAverage();
    return 0;
}
