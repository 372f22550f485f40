#include "ui/yes_no_dialog.h"

#include "platform/design_fonts.h"
#include "platform/widgets.h"
#include "ui/memo.h"

#include <QLabel>
#include <QPushButton>

namespace ui {

YesNoDialog::YesNoDialog(QWidget *owner, const Design &design)
    : ModalDialog(owner)
{
    setFont(platform::designFont());
    setClientSize(257, design.clientHeight);

    OKBtn = platform::pushButton(this, QStringLiteral("OKBtn"), QStringLiteral("Ja"), {55, 148, 75, 25});
    OKBtn->setAutoDefault(true);
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &ModalDialog::accept);

    CancelBtn = platform::pushButton(this, QStringLiteral("CancelBtn"), design.cancelText, {135, 148, 75, 25});
    CancelBtn->setAutoDefault(true);
    connect(CancelBtn, &QPushButton::clicked, this, &ModalDialog::reject);

    Memo1 = new Memo(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(8, 8, 241, 113);
    Memo1->setTabChangesFocus(true);
    Memo1->setFont(platform::designFont());
    Memo1->document()->setDefaultTextOption(QTextOption(Qt::AlignHCenter));
    // The designed eight lines fill the box: no room to spare for margins.
    Memo1->document()->setDocumentMargin(1);
    QPalette palette = Memo1->palette();
    palette.setColor(QPalette::Base, QColor(192, 192, 192));
    palette.setColor(QPalette::Text, design.memoText);
    Memo1->setPalette(palette);

    Label1 = platform::label(this, QStringLiteral("Label1"), design.question, {design.questionLeft, 128});

    setTabOrder(OKBtn, CancelBtn);
    setTabOrder(CancelBtn, Memo1);
}

} // namespace ui
