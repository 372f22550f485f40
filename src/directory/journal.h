#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace directory {

// The append-only change journal beside an embedded tree's LDIF file. Each
// record is written whole and flushed to disk before append() returns.
class Journal {
public:
    explicit Journal(const QString &path);
    Q_DISABLE_COPY_MOVE(Journal)

    // The complete records written so far. A torn last record (a crash during
    // an append) is cut off and kept in `<journal>.torn`; `warning` then says so.
    QByteArray readComplete(QString *warning);

    // Appends one record (ending in a blank line) durably; on failure the
    // journal is left as it was and an error is raised.
    void append(const QByteArray &record);

    [[nodiscard]] QString path() const { return m_file.fileName(); }

private:
    void openForAppend();
    QFile m_file;
};

} // namespace directory
