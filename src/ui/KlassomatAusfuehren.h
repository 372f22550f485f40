#pragma once

#include "ui/yes_no_dialog.h"

// The confirmation dialog: a summary of the coming run, written by the caller
// into Memo1; "Ja" (1) starts the run.
class TFAusfuehren : public ui::YesNoDialog {
    Q_OBJECT
public:
    explicit TFAusfuehren(QWidget *owner);
};

extern TFAusfuehren *FAusfuehren;
