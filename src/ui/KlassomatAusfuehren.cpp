#include "ui/KlassomatAusfuehren.h"

#include "ui/yes_no_dialog.h"

#include <QPushButton>

TFAusfuehren *FAusfuehren = nullptr;

TFAusfuehren::TFAusfuehren(QWidget *owner)
    : ModalDialog(owner)
{
    setWindowTitle(QStringLiteral("Dialog"));
    const ui::YesNoParts parts = ui::buildYesNoDialog(this, 179, QStringLiteral("Abbrechen"), Qt::black,
                                                      QStringLiteral("Die Aktualisierung soll jetzt durchgeführt werden"), 16);
    OKBtn = parts.ok;
    CancelBtn = parts.cancel;
    Memo1 = parts.memo;
    Label1 = parts.question;
}
