// The embedded directory with 100,000 users in 4,000 OUs: load time and memory,
// a subtree search for all users, the median put-and-store (with its fsync).
#include "directory/ldif_tree.h"
#include "generate_tree.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = generateTree(dir.filePath(QStringLiteral("big.ldif")), 100000, 4000);
    const double rssBefore = memoryMiB("VmRSS:");

    QElapsedTimer clock;
    clock.start();
    directory::LdifTree tree(QStringLiteral("BENCH"), path, QString(), directory::SchemaMap());
    const qint64 loadMs = clock.elapsed();
    const double rssAfter = memoryMiB("VmRSS:");

    clock.restart();
    QStringList hits;
    tree.search(QStringLiteral("NDS:\\\\BENCH"), QStringLiteral("User"), directory::Scope::Subtree, QString(),
                [&](const QList<directory::FoundObject> &found, std::exception_ptr) {
                    for (const directory::FoundObject &hit : found)
                        hits.append(hit.fullName);
                });
    const qint64 searchMs = clock.elapsed();

    std::vector<double> stores;
    for (int i = 0; i < 200; ++i) {
        QElapsedTimer one;
        one.start();
        tree.putAndStore(hits.at(i * 397), QStringLiteral("OU"), QStringLiteral("Klasse %1").arg(i));
        stores.push_back(one.nsecsElapsed() / 1e6);
    }
    std::sort(stores.begin(), stores.end());

    std::printf("embedded tree, 100000 users in 4000 OUs\n");
    std::printf("  load:               %lld ms (target < 2000)\n", static_cast<long long>(loadMs));
    std::printf("  memory:             peak RSS %.0f MiB, tree adds %.0f MiB (target < 300)\n", memoryMiB("VmHWM:"), rssAfter - rssBefore);
    std::printf("  subtree search:     %lld ms for %lld users (target < 300)\n", static_cast<long long>(searchMs), static_cast<long long>(hits.size()));
    std::printf("  put-and-store:      median %.2f ms, 90th percentile %.2f ms over 200 (target < 5)\n", stores[100], stores[180]);
    return 0;
}
