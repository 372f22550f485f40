#pragma once

#include <QDialog>

namespace platform {

// A dialog whose modal result follows the program's convention: 1 (OK) from
// its first button, 2 (Cancel) from its second button, from Esc and from the
// close box. Fixed size, close box only.
class ModalDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int ResultOk = 1;
    static constexpr int ResultCancel = 2;

    explicit ModalDialog(QWidget *owner);

    // Fixes the client area and lays the dialog out in pixels, as designed.
    void setClientSize(int width, int height);

    void accept() override;
    void reject() override;
};

} // namespace platform
