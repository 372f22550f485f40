#include "directory/journal.h"

#include "platform/error.h"

#include <QFileInfo>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace directory {

namespace {
bool syncToDisk(QFile &file)
{
    if (!file.flush())
        return false;
#ifdef Q_OS_WIN
    return _commit(file.handle()) == 0;
#else
    return ::fsync(file.handle()) == 0;
#endif
}

platform::Error writeError(const QFile &file)
{
    return platform::Error(QStringLiteral("Journal %1 kann nicht geschrieben werden: %2")
                               .arg(file.fileName(), file.errorString()));
}
} // namespace

Journal::Journal(const QString &path)
    : m_file(path)
{
}

QByteArray Journal::readComplete(QString *warning)
{
    QFile in(m_file.fileName());
    if (!in.exists())
        return {};
    if (!in.open(QIODevice::ReadOnly))
        throw platform::Error(QStringLiteral("Journal %1 kann nicht gelesen werden: %2")
                                  .arg(in.fileName(), in.errorString()));
    const QByteArray data = in.readAll();
    in.close();

    // Every record is written in one piece ending in a blank line, so whatever
    // follows the last blank line is a record that was cut short.
    const qsizetype end = data.lastIndexOf("\n\n");
    const qsizetype complete = end < 0 ? 0 : end + 2;
    if (complete == data.size())
        return data;

    QFile torn(m_file.fileName() + QStringLiteral(".torn"));
    if (!torn.open(QIODevice::Append) || torn.write(data.mid(complete)) < 0 || !syncToDisk(torn))
        throw writeError(torn);
    QFile journal(m_file.fileName());
    if (!journal.resize(complete))
        throw writeError(journal);
    if (warning) {
        *warning = QStringLiteral("Journal %1: der letzte Eintrag war unvollständig und wurde nicht "
                                  "übernommen; er ist in %2 aufbewahrt.")
                       .arg(m_file.fileName(), torn.fileName());
    }
    return data.left(complete);
}

void Journal::openForAppend()
{
    if (m_file.isOpen())
        return;
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        throw writeError(m_file);
}

void Journal::append(const QByteArray &record)
{
    openForAppend();
    const qint64 sizeBefore = m_file.size();
    if (m_file.write(record) != record.size() || !syncToDisk(m_file)) {
        const platform::Error error = writeError(m_file);
        m_file.resize(sizeBefore); // leave no torn record behind us
        m_file.close();
        throw error;
    }
}

} // namespace directory
