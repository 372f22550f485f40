#include "ui/yes_no_dialog.h"

#include "platform/design_fonts.h"
#include "platform/modal_dialog.h"
#include "platform/widgets.h"

#include <QLabel>
#include <QPushButton>
#include <QTextEdit>

namespace ui {

YesNoParts buildYesNoDialog(platform::ModalDialog *dialog, int clientHeight, const QString &cancelText,
                            const QColor &memoText, const QString &question, int questionLeft)
{
    dialog->setFont(platform::designFont());
    dialog->setClientSize(257, clientHeight);

    YesNoParts parts{};
    parts.ok = platform::pushButton(dialog, QStringLiteral("OKBtn"), QStringLiteral("Ja"), {55, 148, 75, 25});
    parts.ok->setAutoDefault(true);
    parts.ok->setDefault(true);
    QObject::connect(parts.ok, &QPushButton::clicked, dialog, &platform::ModalDialog::accept);

    parts.cancel = platform::pushButton(dialog, QStringLiteral("CancelBtn"), cancelText, {135, 148, 75, 25});
    parts.cancel->setAutoDefault(true);
    QObject::connect(parts.cancel, &QPushButton::clicked, dialog, &platform::ModalDialog::reject);

    parts.memo = new QTextEdit(dialog);
    parts.memo->setObjectName(QStringLiteral("Memo1"));
    parts.memo->setGeometry(8, 8, 241, 113);
    parts.memo->setAcceptRichText(false);
    parts.memo->setTabChangesFocus(true);
    parts.memo->setFont(platform::designFont());
    parts.memo->document()->setDefaultTextOption(QTextOption(Qt::AlignHCenter));
    // The designed eight lines fill the box: no room to spare for margins.
    parts.memo->document()->setDocumentMargin(1);
    QPalette palette = parts.memo->palette();
    palette.setColor(QPalette::Base, QColor(192, 192, 192));
    palette.setColor(QPalette::Text, memoText);
    parts.memo->setPalette(palette);

    parts.question = platform::label(dialog, QStringLiteral("Label1"), question, {questionLeft, 128});

    dialog->setTabOrder(parts.ok, parts.cancel);
    dialog->setTabOrder(parts.cancel, parts.memo);
    return parts;
}

} // namespace ui
