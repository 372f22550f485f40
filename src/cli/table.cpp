#include "cli/table.h"

#include <algorithm>

namespace cli {

namespace {
QByteArray field(const QString &text)
{
    // A leading "=", "+", "-" or "@" would make a spreadsheet compute the
    // field, and so would a leading TAB or CR, or blanks before one of them:
    // a name from the directory must stay text.
    QString value = text;
    const qsizetype first = std::find_if(value.cbegin(), value.cend(), [](QChar c) { return c != QLatin1Char(' '); }) - value.cbegin();
    const bool formula = first < value.size() && QStringLiteral("=+-@").contains(value.at(first));
    if (formula || value.startsWith(QLatin1Char('\t')) || value.startsWith(QLatin1Char('\r')))
        value.prepend(QLatin1Char('\''));
    if (value.contains(QLatin1Char(';')) || value.contains(QLatin1Char('"')) || value.contains(QLatin1Char('\n'))
        || value.contains(QLatin1Char('\r')) || value != text)
        value = QLatin1Char('"') + value.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
    return value.toUtf8();
}
} // namespace

Csv::Csv(const QStringList &header)
    : m_bytes("\xEF\xBB\xBF")
{
    add(header);
}

void Csv::add(const QStringList &fields)
{
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i > 0)
            m_bytes += ';';
        m_bytes += field(fields.at(i));
    }
    m_bytes += "\r\n";
}

QString joinedValues(const QStringList &values)
{
    return values.join(QStringLiteral(" | "));
}

void appendDottedName(QString &out, QStringView fullName)
{
    // A name with a dot in it stays as it is, as ToDottedName leaves it.
    if (fullName.isEmpty() || fullName.contains(QLatin1Char('.'))) {
        out += fullName;
        return;
    }
    qsizetype start = 0;
    if (const qsizetype pair = fullName.indexOf(QLatin1String("\\\\")); pair >= 0)
        start = pair + 2; // "NDS:" and the two backslashes
    if (const qsizetype tree = fullName.indexOf(QLatin1Char('\\'), start); tree >= 0)
        start = tree + 1; // the tree name
    // The components below the tree, last first; an empty first one leaves no dot.
    const QStringView path = fullName.sliced(start);
    const qsizetype from = out.size();
    for (qsizetype end = path.size();;) {
        const qsizetype cut = end == 0 ? -1 : path.lastIndexOf(QLatin1Char('\\'), end - 1);
        out += path.sliced(cut + 1, end - cut - 1);
        if (cut < 0)
            break;
        out += QLatin1Char('.');
        end = cut;
    }
    if (out.size() > from && out.endsWith(QLatin1Char('.')))
        out.chop(1);
}

} // namespace cli
