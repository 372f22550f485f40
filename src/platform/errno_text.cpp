#include "platform/errno_text.h"

#include <cerrno>

namespace platform {

QString errnoText(int errnum)
{
    switch (errnum) {
    case ENOENT:
        return QStringLiteral("die Datei oder der Ordner fehlt");
    case ENOTDIR:
        return QStringLiteral("ein Teil des Pfades ist kein Ordner");
    case EISDIR:
        return QStringLiteral("an dieser Stelle steht ein Ordner");
    case ELOOP:
        return QStringLiteral("an dieser Stelle steht ein symbolischer Verweis, der nicht geöffnet wird");
    case ENAMETOOLONG:
        return QStringLiteral("der Pfad ist zu lang");
    case EEXIST:
        return QStringLiteral("die Datei ist bereits vorhanden");
    case EACCES:
    case EPERM:
        return QStringLiteral("keine Berechtigung");
    case EROFS:
        return QStringLiteral("der Datenträger ist schreibgeschützt");
    case ENOSPC:
        return QStringLiteral("der Datenträger ist voll");
#ifdef EDQUOT
    case EDQUOT:
        return QStringLiteral("das Speicherkontingent ist erschöpft");
#endif
    case EFBIG:
        return QStringLiteral("die Datei hat die größte erlaubte Größe erreicht");
    case EIO:
        return QStringLiteral("Ein-/Ausgabefehler des Datenträgers");
    case ENXIO:
    case ENODEV:
        return QStringLiteral("an dieser Stelle steht ein Gerät, das nicht bereit ist, oder eine Pipe ohne Leser");
    case ETXTBSY:
    case EBUSY:
        return QStringLiteral("die Datei ist gerade in Gebrauch");
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
        return QStringLiteral("die Datei ist vorübergehend nicht verfügbar");
    case EINTR:
        return QStringLiteral("der Vorgang wurde unterbrochen");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("zu viele offene Dateien");
    case ENOMEM:
        return QStringLiteral("nicht genug Arbeitsspeicher");
    case ENOLCK:
        return QStringLiteral("keine Sperre verfügbar");
    case EXDEV:
        return QStringLiteral("Quelle und Ziel liegen auf verschiedenen Datenträgern");
    case ENOTEMPTY:
        return QStringLiteral("der Ordner ist nicht leer");
    case EOVERFLOW:
        return QStringLiteral("die Datei ist zu groß für diesen Zugriff");
    case EINVAL:
        return QStringLiteral("ungültiger Aufruf für diese Datei");
    case EBADF:
        return QStringLiteral("die Datei ist nicht (mehr) geöffnet");
#ifdef ESTALE
    case ESTALE:
        return QStringLiteral("die Datei auf dem Netzlaufwerk ist nicht mehr gültig");
#endif
#ifdef EOPNOTSUPP
    case EOPNOTSUPP:
        return QStringLiteral("das Dateisystem unterstützt diesen Vorgang nicht");
#endif
    default:
        return QStringLiteral("Systemfehler Nr. %1").arg(errnum);
    }
}

} // namespace platform
