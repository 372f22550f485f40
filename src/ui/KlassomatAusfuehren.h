#pragma once

#include "platform/modal_dialog.h"

class QLabel;
class QPushButton;
class QTextEdit;

// The confirmation dialog: a summary of the coming run, written by the caller
// into Memo1; "Ja" (1) starts the run.
class TFAusfuehren : public platform::ModalDialog {
    Q_OBJECT
public:
    explicit TFAusfuehren(QWidget *owner);

    QPushButton *OKBtn;
    QPushButton *CancelBtn;
    QTextEdit *Memo1;
    QLabel *Label1;
};

extern TFAusfuehren *FAusfuehren;
