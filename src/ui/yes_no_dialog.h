#pragma once

#include <QColor>
#include <QString>

class QLabel;
class QPushButton;
class QTextEdit;

namespace platform {
class ModalDialog;
}

namespace ui {

// The build that the consent and confirmation dialogs share: a centred memo at
// the top, one line of question, a first button (OK) and a second (Cancel).
struct YesNoParts {
    QPushButton *ok;
    QPushButton *cancel;
    QTextEdit *memo;
    QLabel *question;
};

YesNoParts buildYesNoDialog(platform::ModalDialog *dialog, int clientHeight, const QString &cancelText,
                            const QColor &memoText, const QString &question, int questionLeft);

} // namespace ui
