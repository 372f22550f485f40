#pragma once

#include <QString>
#include <QStringList>

// Rows for people and for spreadsheets.
namespace cli {

// A CSV file that LibreOffice Calc and a German Excel open as it is: UTF-8
// with a byte order mark (else Excel reads Windows-1252), ";" between fields
// (a German Excel's list separator), CR LF line ends, fields quoted where needed.
class Csv {
public:
    explicit Csv(const QStringList &header);
    void add(const QStringList &fields);
    [[nodiscard]] QByteArray bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

// Several values in one field.
QString joinedValues(const QStringList &values);

} // namespace cli
