#pragma once

#include "ui/yes_no_dialog.h"

// The consent dialog: a liability notice in red; "Ja" (1) accepts it.
class TFZustimmung : public ui::YesNoDialog {
    Q_OBJECT
public:
    explicit TFZustimmung(QWidget *owner);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void FormShow();
};

extern TFZustimmung *FZustimmung;
