#include "ui/KlassomatAusfuehren.h"

TFAusfuehren *FAusfuehren = nullptr;

TFAusfuehren::TFAusfuehren(QWidget *owner)
    : YesNoDialog(owner, {.clientHeight = 179,
                          .cancelText = QStringLiteral("Abbrechen"),
                          .memoText = Qt::black,
                          .question = QStringLiteral("Die Aktualisierung soll jetzt durchgeführt werden"),
                          .questionLeft = 16})
{
    setWindowTitle(QStringLiteral("Dialog"));
    Memo1->setAccessibleName(QStringLiteral("Zusammenfassung des Laufs"));
    Memo1->setAccessibleDescription(QStringLiteral("Wo und wie die Klassen eingetragen werden."));
}
