#include "cli/cli.h"
#include "directory/client.h"
#include "password_prompt.h"
#include "nwcontrols/register_controls.h"
#include "platform/design_fonts.h"
#include "platform/handler_guard.h"
#include "platform/message_box.h"
#include "runs/run_record.h"
#include "ui/Klassomat_U.h"
#include "ui/accessible_roles.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLibraryInfo>
#include <QTimer>
#include <QTranslator>

#include <memory>

namespace {

void describeApplication()
{
    QCoreApplication::setApplicationName(QStringLiteral("klassomat"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KLASSOMAT_VERSION));
}

// Qt's own texts (standard buttons, the command line's help) in German, as
// everything else the program says.
std::unique_ptr<QTranslator> installQtGerman()
{
    auto translator = std::make_unique<QTranslator>();
    if (translator->load(QStringLiteral("qtbase_de"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator.get());
    return translator;
}

void describeCommandLine(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Trägt bei allen Benutzern unterhalb eines Verzeichniskontexts die Klasse in das Feld Department ein.\n"
        "Ohne Fenster: klassomat check | preview | run | runs | undo (klassomat run --help zeigt alles)."));
    parser.addHelpOption();
    parser.addVersionOption();
}

int runWindows(int argc, char *argv[])
{
    QApplication app(argc, argv);
    describeApplication();
    const auto german = installQtGerman();
    {
        // Qt has taken its own options (-platform, -style, ...) by now: whatever is left must be ours.
        QCommandLineParser parser;
        describeCommandLine(parser);
        parser.process(app);
        if (!parser.positionalArguments().isEmpty())
            parser.showHelp(1);
    }
    QGuiApplication::setDesktopFileName(QStringLiteral("de.klassomat.klassomat"));
    QApplication::setFont(platform::designFont());
    ui::installAccessibleRoles();

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
    // Looking the icon up in the icon themes costs a sixth of the start; the
    // window is mapped first and takes its icon a moment later.
    QTimer::singleShot(0, &app, [] {
        QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("klassomat"), QIcon(QStringLiteral(":/icons/klassomat.svg"))));
    });
    for (const QString &warning : client->takeWarnings())
        platform::showMessage(QMessageBox::Warning, warning);
    const int result = QApplication::exec();
    Form1 = nullptr;
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    // The command line is read before any window and without a display, so that
    // --help and --version answer on a machine without one. Unknown options are
    // checked once the windows' application has taken Qt's own.
    {
        QCoreApplication commandLine(argc, argv);
        describeApplication();
        const auto german = installQtGerman();
        // A command does its work here, without a window.
        const QStringList arguments = QCoreApplication::arguments();
        if (arguments.size() > 1 && cli::isCommand(arguments.at(1)))
            return cli::run(arguments);
        QCommandLineParser parser;
        describeCommandLine(parser);
        parser.parse(arguments);
        if (parser.isSet(QStringLiteral("help")))
            parser.showHelp();
        if (parser.isSet(QStringLiteral("version")))
            parser.showVersion();
    }
    return runWindows(argc, argv);
}
