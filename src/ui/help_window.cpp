#include "ui/help_window.h"

#include "platform/message_box.h"
#include "runs/class_list.h"
#include "runs/run_record.h"

#include <QDir>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace ui {

namespace {

QString pathList(const QStringList &paths)
{
    QString items;
    for (const QString &path : paths)
        items += QStringLiteral("<li><code>%1</code></li>").arg(QDir::toNativeSeparators(path).toHtmlEscaped());
    return QStringLiteral("<ol>%1</ol>").arg(items);
}

QString helpText(const QString &programFolder)
{
    return QStringLiteral(
               "<h2>klassomat</h2>"
               "<p>klassomat findet alle Benutzer unterhalb eines Containers des Verzeichnisses (des "
               "Startkontexts), nimmt den Namen des Containers, der einen Benutzer direkt enthält – die Klasse "
               "im Computer, etwa <b>Abi05a</b> –, übersetzt ihn auf Wunsch über die Klassenliste in die reale "
               "Klassenbezeichnung, etwa <b>8a</b>, und trägt sie in das Feld Department (Attribut OU) des "
               "Benutzers ein. Vor jedem Lauf fragt es nach Zustimmung und Bestätigung; ein Lauf lässt sich "
               "zwischen zwei Benutzern abbrechen.</p>"
               "<h3>Die vier Formen der Eintragung</h3>"
               "<ul>"
               "<li><b>Abi05a</b>: der Name des Containers, wie er im Computer heißt.</li>"
               "<li><b>8a</b>: die reale Klasse aus der Klassenliste.</li>"
               "<li><b>8a, Abi05a</b>: die reale Klasse, dann der Name des Containers.</li>"
               "<li><b>Abi05a, 8a</b>: der Name des Containers, dann die reale Klasse.</li>"
               "</ul>"
               "<h3>Die Klassenliste</h3>"
               "<p>Die Datei <code>Klassen.txt</code> hat je Zeile eine Zuordnung: reale Klasse, Semikolon, "
               "Name des Containers (<code>8a;Abi05a</code>), in UTF-8 oder Windows-1252. klassomat liest die "
               "erste dieser Dateien, die es gibt:</p>%1"
               "<p>Gibt es keine, sind die Formen der Eintragung gesperrt. Ein Beispiel liegt in "
               "<code>/usr/share/doc/klassomat/Klassen.txt</code>.</p>"
               "<h3>Tastatur</h3>"
               "<table cellspacing=\"4\">"
               "<tr><td><b>F4</b></td><td>öffnet die Auswahl des Startkontexts.</td></tr>"
               "<tr><td><b>Tab</b>, <b>Umschalt+Tab</b></td><td>gehen von Feld zu Feld; im Verzeichnisbaum "
               "wählen die Pfeiltasten einen Container, <b>Eingabe</b> übernimmt ihn.</td></tr>"
               "<tr><td><b>Alt+A</b></td><td>drückt „Ausfuehren“, während eines Laufs „Abbrechen“.</td></tr>"
               "<tr><td><b>Leertaste</b></td><td>drückt die Schaltfläche, die den Fokus hat.</td></tr>"
               "<tr><td><b>Esc</b></td><td>schließt einen Dialog wie „Abbrechen“ oder „Nein“.</td></tr>"
               "<tr><td><b>F1</b></td><td>zeigt diese Hilfe.</td></tr>"
               "</table>"
               "<h3>Laufprotokolle und Rücknahme</h3>"
               "<p>Jeder Lauf hinterlässt ein Laufprotokoll im Ordner <code>%2</code>, nur für seinen "
               "Eigentümer lesbar: wer, wann, Baum, Kontext und Form, dann je Benutzer die alten und neuen "
               "Werte und das Ergebnis. Es ist LDIF, das <code>ldapmodify</code> anwenden kann.</p>"
               "<p>Im Terminal zeigt <code>klassomat runs</code> die Läufe; <code>klassomat undo "
               "<i>Kennung</i></code> nimmt einen Lauf zurück, wo der Wert noch der geschriebene ist, und nennt "
               "jeden Benutzer, den es auslässt. <code>--dry-run</code> zeigt vorher, was geschähe.</p>"
               "<h3>Mehr</h3>"
               "<p>Die Handbuchseite: <code>man klassomat</code> (<code>/usr/share/man/man1/klassomat.1.gz</code>). "
               "<code>klassomat --help</code> und <code>klassomat run --help</code> nennen alle Optionen.</p>")
        .arg(pathList(runs::classListCandidates(programFolder)), QDir::toNativeSeparators(runs::runsFolder()).toHtmlEscaped());
}

} // namespace

HelpWindow::HelpWindow(QWidget *owner, const QString &programFolder)
    : QDialog(owner)
{
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("klassomat – Hilfe"));
    resize(560, 520);

    Text = new QTextBrowser(this);
    Text->setObjectName(QStringLiteral("Text"));
    Text->setOpenLinks(false);
    Text->setHtml(helpText(programFolder));
    Text->setAccessibleName(QStringLiteral("Hilfe"));
    Text->setAccessibleDescription(QStringLiteral("Was klassomat tut und wie man es bedient."));

    AboutBtn = new QPushButton(QStringLiteral("Über klassomat"), this);
    AboutBtn->setObjectName(QStringLiteral("AboutBtn"));
    AboutBtn->setAutoDefault(false);
    connect(AboutBtn, &QPushButton::clicked, this, [] { platform::showMessage(QMessageBox::Information, aboutText()); });
    CloseBtn = new QPushButton(QStringLiteral("Schließen"), this);
    CloseBtn->setObjectName(QStringLiteral("CloseBtn"));
    CloseBtn->setDefault(true);
    connect(CloseBtn, &QPushButton::clicked, this, &QDialog::close);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(AboutBtn);
    buttons->addStretch();
    buttons->addWidget(CloseBtn);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Text);
    layout->addLayout(buttons);
}

void showHelp(QWidget *owner, const QString &programFolder)
{
    auto *help = owner->findChild<HelpWindow *>(QString(), Qt::FindDirectChildrenOnly);
    if (!help)
        help = new HelpWindow(owner, programFolder);
    help->show();
    help->raise();
    help->activateWindow();
}

QString aboutText()
{
    return QStringLiteral("klassomat %1\n"
                          "Klassenbezeichnungen in das Feld Department eintragen\n\n"
                          "Freeware: kostenlos zu verwenden und weiterzugeben.\n"
                          "© 2026 die Autoren von klassomat\n\n"
                          "Gebaut mit Qt %2.")
        .arg(QStringLiteral(KLASSOMAT_VERSION), QString::fromLatin1(qVersion()));
}

} // namespace ui
