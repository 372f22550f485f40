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

} // namespace cli
