#pragma once

#include "platform/modal_dialog.h"

class QLabel;
class QPushButton;
class QTextEdit;

// The consent dialog: a liability notice in red; "Ja" (1) accepts it.
class TFZustimmung : public platform::ModalDialog {
    Q_OBJECT
public:
    explicit TFZustimmung(QWidget *owner);

    QPushButton *OKBtn;
    QPushButton *CancelBtn;
    QTextEdit *Memo1;
    QLabel *Label1;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void FormShow();
};

extern TFZustimmung *FZustimmung;
