#pragma once

#include "platform/modal_dialog.h"

class QComboBox;
class QLabel;
class QPushButton;

// The tree choice dialog, shown at start when the workstation is attached to
// two or more trees. It has no code of its own: its caller reads ComboBox1.
class TTreeSelect : public platform::ModalDialog {
    Q_OBJECT
public:
    explicit TTreeSelect(QWidget *owner);

    QLabel *Label4;
    QLabel *Label2;
    QLabel *Label3;
    QLabel *Label1;
    QComboBox *ComboBox1;
    QPushButton *Button1;
};
