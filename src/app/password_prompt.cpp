#include "password_prompt.h"

#include "directory/client.h"
#include "platform/placement.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSettings>

namespace {

// The directory client hands over the tree and the bind DN; the server is the
// tree's uri= in the same configuration file.
QString serverOf(const QString &treeName)
{
    const QSettings config(directory::Client::configPath(), QSettings::IniFormat);
    return config.value(treeName + QStringLiteral("/uri")).toString();
}

QLabel *plainLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

QString askPassword(const QString &treeName, const QString &bindDn)
{
    QDialog dialog;
    dialog.setWindowTitle(QStringLiteral("Anmeldung am Baum %1").arg(treeName));
    dialog.setMinimumWidth(420);
    platform::centreOnScreen(&dialog);
    auto *form = new QFormLayout(&dialog);
    form->addRow(QStringLiteral("Baum:"), plainLabel(treeName, &dialog));
    form->addRow(QStringLiteral("Server:"), plainLabel(serverOf(treeName), &dialog));
    form->addRow(QStringLiteral("Anmelde-DN:"), plainLabel(bindDn, &dialog));
    auto *password = new QLineEdit(&dialog);
    password->setObjectName(QStringLiteral("password"));
    password->setEchoMode(QLineEdit::Password);
    password->setAccessibleName(QStringLiteral("Passwort"));
    password->setAccessibleDescription(QStringLiteral("Passwort für %1 am Baum %2").arg(bindDn, treeName));
    form->addRow(QStringLiteral("&Passwort:"), password);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return password->text();
}
