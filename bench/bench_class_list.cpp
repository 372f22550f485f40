// The class list in a preview: planning 40,000 users against a class list of
// 1,600 lines, against one of 1 line (CPU time, interleaved pairs, median of
// 7). An indexed look-up keeps the ratio near 1.
#include "measure.h"
#include "runs/plan.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

namespace {
using bench::median;
using bench::cpuMs;

double planMs(const QList<runs::FoundUser> &users, const QStringList &classList)
{
    const double start = cpuMs();
    const QList<runs::PlannedUser> planned = runs::plan(users, 1, classList);
    const double ms = cpuMs() - start;
    if (planned.size() != users.size())
        std::abort();
    return ms;
}
} // namespace

int main()
{
    constexpr int kClasses = 1600;
    constexpr int kUsers = 40000;
    QStringList many;
    for (int i = 0; i < kClasses; ++i)
        many.append(QStringLiteral("K%1;Klasse%1").arg(i));
    const QStringList one{QStringLiteral("K0;Klasse0")};
    QStringList others; // as many lines, none naming a container: the look-up alone
    for (int i = 0; i < kClasses; ++i)
        others.append(QStringLiteral("K%1;Andere%1").arg(i));
    QList<runs::FoundUser> users;
    for (int i = 0; i < kUsers; ++i) {
        const QString container = QStringLiteral("Klasse%1").arg(i % kClasses);
        users.append({QStringLiteral("NDS:\\\\SCHULE\\Gym\\%1\\u%2").arg(container).arg(i),
                      QStringLiteral("cn=u%1,ou=%2,o=Gym").arg(i).arg(container), {}});
    }
    std::vector<double> withMany, withOne, withOthers;
    for (int round = 0; round < 7; ++round) {
        withMany.push_back(planMs(users, many));
        withOne.push_back(planMs(users, one));
        withOthers.push_back(planMs(users, others));
    }
    const double a = median(withMany), b = median(withOne), c = median(withOthers);
    std::printf("preview of %d users: %.1f ms with %d class lines, %.1f ms with 1 line: %.2f x\n", kUsers, a, kClasses,
                b, a / b);
    std::printf("  the look-up alone (%d lines naming no container): %.1f ms, %.2f x\n", kClasses, c, c / b);
    bench::printLoadAverage();
    return 0;
}
