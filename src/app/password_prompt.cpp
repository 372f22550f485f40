#include "password_prompt.h"

#include <QInputDialog>
#include <QLineEdit>

QString askPassword(const QString &treeName, const QString &bindDn)
{
    return QInputDialog::getText(nullptr, QStringLiteral("Anmeldung am Baum %1").arg(treeName),
                                 QStringLiteral("Passwort für %1:").arg(bindDn), QLineEdit::Password);
}
