#include "ui/HaftungsZustimmung.h"

#include <QPushButton>

TFZustimmung *FZustimmung = nullptr;

namespace {
const QStringList kNotice = {
    QStringLiteral("Achtung !!!"),
    QStringLiteral("Sorgen Sie vor der Anwendung des Programms"),
    QStringLiteral("für eine vollständige Sicherung Ihrer Daten. "),
    QString(),
    QStringLiteral("Die Anwendung erfolgt auf eigene Gefahr."),
    QStringLiteral("Der Autor haftet  nicht für Schäden, die"),
    QStringLiteral("durch die Anwendung dieses Programms"),
    QStringLiteral("entstehen."),
};
}

TFZustimmung::TFZustimmung(QWidget *owner)
    : YesNoDialog(owner, {.clientHeight = 183,
                          .cancelText = QStringLiteral("Nein"),
                          .memoText = Qt::red,
                          .question = QStringLiteral("Ich stimme diesen Bedingungen zu."),
                          .questionLeft = 40})
{
    setWindowTitle(QStringLiteral("Rechtliche Bedingungen"));
    for (const QString &line : kNotice)
        Memo1->addLine(line);
    Memo1->setAccessibleName(QStringLiteral("Haftungshinweis"));
    Memo1->setAccessibleDescription(QStringLiteral("Die Bedingungen, denen vor jedem Lauf zuzustimmen ist."));
}

void TFZustimmung::showEvent(QShowEvent *event)
{
    YesNoDialog::showEvent(event);
    FormShow();
}

void TFZustimmung::FormShow()
{
    // The red notice stands on the dialog's own face colour.
    QPalette palette = Memo1->palette();
    const QWidget *dialog = FZustimmung ? static_cast<QWidget *>(FZustimmung) : this;
    palette.setColor(QPalette::Base, dialog->palette().color(QPalette::Window));
    Memo1->setPalette(palette);
    // Enter at once answers "Nein": accepting takes a deliberate act.
    CancelBtn->setFocus();
}
