#include "ui/KlassomatAusfuehren.h"

TFAusfuehren *FAusfuehren = nullptr;

TFAusfuehren::TFAusfuehren(QWidget *owner)
    : YesNoDialog(owner, 179, QStringLiteral("Abbrechen"), Qt::black,
                  QStringLiteral("Die Aktualisierung soll jetzt durchgeführt werden"), 16)
{
    setWindowTitle(QStringLiteral("Dialog"));
    Memo1->setAccessibleName(QStringLiteral("Zusammenfassung des Laufs"));
    Memo1->setAccessibleDescription(QStringLiteral("Wo und wie die Klassen eingetragen werden."));
}
