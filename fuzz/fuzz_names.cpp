// Name conversions: full name <-> DN <-> dotted name must round-trip for any
// text, and no input may crash the parsers.
#include "directory/dn.h"
#include "directory/full_name.h"
#include "ndk/names.h"
#include "platform/error.h"

#include <QStringList>

#include <algorithm>
#include <cstdlib>

namespace {
void require(bool condition)
{
    if (!condition)
        std::abort();
}

void fullNameRoundTrip(const QString &text)
{
    directory::FullName name;
    try {
        name = directory::FullName::parse(text);
    } catch (const platform::Error &) {
        return;
    }
    const QString again = name.toString();
    const directory::FullName reparsed = directory::FullName::parse(again);
    require(reparsed.treeName == name.treeName && reparsed.components == name.components);

    QStringList reversed = name.components;
    std::reverse(reversed.begin(), reversed.end());
    const QString dotted = ndk::ToDottedName(again);
    if (again.contains(QLatin1Char('.')))
        require(dotted == again);
    else
        require(dotted == (reversed.isEmpty() ? name.treeName : reversed.join(QLatin1Char('.'))));

    // Each component becomes one RDN value and comes back unchanged.
    try {
        QString dn;
        for (const QString &component : std::as_const(name.components))
            dn = directory::dnBelow(dn, "cn", component);
        const QList<directory::Rdn> parsed = directory::parseDn(dn);
        require(parsed.size() == reversed.size());
        for (qsizetype i = 0; i < reversed.size(); ++i)
            require(parsed[i].size() == 1 && parsed[i].first().value == reversed[i]);
    } catch (const platform::Error &) {
        // libldap refuses some values (a NUL); refusing is fine, changing is not.
    }
}

void dnRoundTrip(const QString &text)
{
    QList<directory::Rdn> rdns;
    try {
        rdns = directory::parseDn(text);
    } catch (const platform::Error &) {
        return;
    }
    // Built again from the top, as writes name objects: RDNs of one value.
    QString dn;
    for (auto rdn = rdns.crbegin(); rdn != rdns.crend(); ++rdn) {
        if (rdn->size() != 1)
            return;
        dn = directory::dnBelow(dn, rdn->first().type.toUtf8(), rdn->first().value);
    }
    const QList<directory::Rdn> again = directory::parseDn(dn);
    require(again.size() == rdns.size());
    for (qsizetype i = 0; i < rdns.size(); ++i)
        require(again[i].size() == 1 && again[i].first().type == rdns[i].first().type && again[i].first().value == rdns[i].first().value);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    fullNameRoundTrip(text);
    dnRoundTrip(text);
    return 0;
}
