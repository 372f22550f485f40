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
    YesNoDialog(QWidget *owner, int clientHeight, const QString &cancelText, const QColor &memoText,
                const QString &question, int questionLeft);

    QPushButton *OKBtn;
    QPushButton *CancelBtn;
    Memo *Memo1;
    QLabel *Label1;
};

} // namespace ui
