#include "platform/design_fonts.h"

#include <QStringList>

namespace platform {

namespace {
QFont font(const QStringList &families, QFont::StyleHint hint)
{
    QFont f;
    f.setFamilies(families);
    f.setStyleHint(hint);
    f.setPixelSize(11);
    return f;
}
} // namespace

QFont designFont()
{
    return font({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                 QStringLiteral("Liberation Sans"), QStringLiteral("Arial")},
                QFont::SansSerif);
}

QFont monospacedDesignFont()
{
    return font({QStringLiteral("Courier New"), QStringLiteral("Liberation Mono")}, QFont::TypeWriter);
}

} // namespace platform
