#include "cli/cli.h"
#include "display_check.h"
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

#include <csignal>
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

void complain(const QString &message)
{
    QTextStream(stderr) << QStringLiteral("klassomat: ") << message << Qt::endl;
}

int runWindows(int argc, char *argv[], std::unique_ptr<DisplayCheck> display)
{
    QApplication app(argc, argv);
    display.reset(); // Qt has its own connection now
    describeApplication();
    const auto german = installQtGerman();
    {
        // Qt has taken its own options (-platform, -style, ...) by now: whatever is left must be ours.
        QCommandLineParser parser;
        cli::describeProgram(parser);
        if (!parser.parse(QCoreApplication::arguments())) {
            QString error = parser.errorText();
            if (error.endsWith(QLatin1Char('.')))
                error.chop(1);
            complain(error + QStringLiteral(" – klassomat --help zeigt die Optionen"));
            return 2;
        }
        if (const QStringList rest = parser.positionalArguments(); !rest.isEmpty()) {
            complain(cli::isCommand(rest.first()) ? QStringLiteral("Der Befehl %1 gehört an die erste Stelle").arg(rest.first())
                                                  : cli::unknownCommand(rest.first()));
            return 2;
        }
    }
    // The desktop entry's name, as the windows' WM_CLASS (the application's
    // name) and the Wayland application id say it: desktops match by it.
    QGuiApplication::setDesktopFileName(QCoreApplication::applicationName());
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
        header.base = client->base(header.tree);
        header.identity = client->identity(header.tree);
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
#ifdef SIGXFSZ
    // A file grown past the user's limit fails its write, with a message
    // naming the file, instead of ending the program mid-run.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    // The command line is read before any window and without a display, so that
    // --help, --version and the commands answer on a machine without one.
    // Unknown options are checked once the windows' application has taken Qt's own.
    std::unique_ptr<DisplayCheck> display;
    {
        QCoreApplication commandLine(argc, argv);
        describeApplication();
        const auto german = installQtGerman();
        const QStringList arguments = QCoreApplication::arguments();
        // A first argument that is no option names a command, which does its work here, without a window.
        if (arguments.size() > 1 && !arguments.at(1).startsWith(QLatin1Char('-')))
            return cli::run(arguments);
        QCommandLineParser parser;
        cli::describeProgram(parser);
        parser.parse(arguments);
        if (parser.isSet(QStringLiteral("help")))
            parser.showHelp();
        if (parser.isSet(QStringLiteral("version")))
            parser.showVersion();
        display = std::make_unique<DisplayCheck>(arguments, QProcessEnvironment::systemEnvironment());
        if (!display->problem().isEmpty()) {
            complain(display->problem());
            return 2;
        }
    }
    return runWindows(argc, argv, std::move(display));
}
