#pragma once

#include "platform/modal_dialog.h"
#include "ui/memo.h"

#include <QColor>
#include <QString>

class QLabel;
class QPushButton;

namespace ui {

// The build that the consent and confirmation dialogs share: a centred memo at
// the top, one line of question, a first button "Ja" (OK) and a second (Cancel).
class YesNoDialog : public platform::ModalDialog {
    Q_OBJECT
public:
    // What tells the two dialogs apart.
    struct Design {
        int clientHeight;
        QString cancelText;  // the second button's caption
        QColor memoText;
        QString question;    // the line below the memo
        int questionLeft;
    };

    YesNoDialog(QWidget *owner, const Design &design);

    QPushButton *OKBtn;
    QPushButton *CancelBtn;
    Memo *Memo1;
    QLabel *Label1;
};

} // namespace ui
