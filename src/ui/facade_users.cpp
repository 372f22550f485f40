#include "ui/facade_users.h"

#include "ndk/ndk_u.h"

#include <QScopeGuard>

namespace ui {

QList<runs::FoundUser> findUsers(const QString &context, bool subtree, const QString &attribute)
{
    TNDK &ndk = TheNDK();
    const auto wholeTreeAgain = qScopeGuard([] {
        if (NDK)
            NDK->SetSubtreeSearch(true);
    });
    ndk.SetSubtreeSearch(subtree);
    TStringList hits;
    ndk.SearchObjects(context, attribute, QStringLiteral("User"), hits);
    QList<runs::FoundUser> users;
    users.reserve(hits.Count());
    for (qsizetype i = 0; i < hits.Count(); ++i) {
        TNDSObj &hit = *hits.Object(i);
        users.append({std::move(hit.FFullName), std::move(hit.FDn), std::move(hit.FValues)});
    }
    return users;
}

} // namespace ui
