#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace bench {

// Offscreen unless the caller chose a platform: `xvfb-run -a env QT_QPA_PLATFORM=xcb bench_run`
// measures what a desktop costs, which offscreen does not (no X round trips).
inline const char *choosePlatform()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    return platform.constData();
}

} // namespace bench
