#include "cli/cli.h"
#include "directory/client.h"
#include "password_prompt.h"
#include "nwcontrols/register_controls.h"
#include "platform/design_fonts.h"
#include "platform/handler_guard.h"
#include "platform/message_box.h"
#include "runs/run_record.h"
#include "ui/Klassomat_U.h"

#include <QApplication>

#include <memory>

int main(int argc, char *argv[])
{
    // A command runs without a display.
    if (argc > 1 && cli::isCommand(QString::fromLocal8Bit(argv[1]))) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("klassomat"));
        return cli::run(QCoreApplication::arguments());
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("klassomat"));
    QApplication::setApplicationDisplayName(QStringLiteral("klassomat"));
    QApplication::setFont(platform::designFont());

    std::unique_ptr<directory::Client> client;
    platform::guarded([&] { client = std::make_unique<directory::Client>(QStringLiteral(":/demo/schule.ldif"), askPassword); });
    if (!client)
        return 1;
    nwcontrols::registerControls(*client);

    auto form = std::make_unique<TForm1>(QCoreApplication::applicationDirPath());
    Form1 = form.get();
    form->FDescribeTree = [&client](runs::RunHeader &header) {
        header.server = client->source(header.tree);
        header.attribute = client->attributeName(header.tree, QStringLiteral("OU"));
    };
    form->show();
    for (const QString &warning : client->takeWarnings())
        platform::showMessage(QMessageBox::Warning, warning);
    const int result = QApplication::exec();
    Form1 = nullptr;
    return result;
}
