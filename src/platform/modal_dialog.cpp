#include "platform/modal_dialog.h"

namespace platform {

ModalDialog::ModalDialog(QWidget *owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                         | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                         | Qt::MSWindowsFixedSizeDialogHint)
{
    setAutoFillBackground(true);
}

void ModalDialog::setClientSize(int width, int height)
{
    setFixedSize(width, height);
}

void ModalDialog::accept()
{
    done(ResultOk);
}

void ModalDialog::reject()
{
    done(ResultCancel);
}

} // namespace platform
