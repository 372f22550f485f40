#include "ui/help_window.h"

#include "platform/message_box.h"
#include "platform/placement.h"
#include "runs/class_list.h"
#include "runs/run_record.h"

#include <QDir>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTextDocument>
#include <QVBoxLayout>
#include <QWindow>

namespace ui {

namespace {

struct Section {
    QString title;
    QString body; // rich text without tables: a table reaches a screen reader with U+FDD0 between its cells
};

QString pathList(const QStringList &paths)
{
    QString items;
    for (const QString &path : paths)
        items += QStringLiteral("<li><code>%1</code></li>").arg(QDir::toNativeSeparators(path).toHtmlEscaped());
    return QStringLiteral("<ol>%1</ol>").arg(items);
}

QList<Section> helpSections(const QString &programFolder)
{
    return {
        {QStringLiteral("klassomat"),
         QStringLiteral(
             "<p>klassomat findet alle Benutzer unterhalb eines Containers des Verzeichnisses (des Startkontexts), "
             "nimmt den Namen des Containers, der einen Benutzer direkt enthält – die Klasse im Computer, etwa "
             "<b>Abi05a</b> –, übersetzt ihn auf Wunsch über die Klassenliste in die reale Klassenbezeichnung, etwa "
             "<b>8a</b>, und trägt sie in das Feld Department (Attribut OU) des Benutzers ein. Vor jedem Lauf fragt es "
             "nach Zustimmung und Bestätigung; ein Lauf lässt sich zwischen zwei Benutzern abbrechen.</p>")},
        {QStringLiteral("Startkontext und Teilbaum"),
         QStringLiteral(
             "<p><b>F4</b> oder die kleine Schaltfläche neben dem Feld öffnet den Verzeichnisbaum, in dem der "
             "Startkontext gewählt wird: eine Organisation oder eine Organisatorische Einheit.</p>"
             "<p>Ohne „Gesamten Teilbaum durchsuchen“ findet klassomat nur die Benutzer, die direkt im gewählten "
             "Container liegen. Wer eine Schule wählt, deren Klassen als Container darunter liegen, braucht den "
             "Haken: ohne ihn findet der Lauf dort keinen Benutzer und trägt nichts ein.</p>")},
        {QStringLiteral("Die vier Formen der Eintragung"),
         QStringLiteral("<ul>"
                        "<li><b>Abi05a</b>: der Name des Containers, wie er im Computer heißt.</li>"
                        "<li><b>8a</b>: die reale Klasse aus der Klassenliste.</li>"
                        "<li><b>8a, Abi05a</b>: die reale Klasse, dann der Name des Containers.</li>"
                        "<li><b>Abi05a, 8a</b>: der Name des Containers, dann die reale Klasse.</li>"
                        "</ul>")},
        {QStringLiteral("Die Klassenliste"),
         QStringLiteral("<p>Die Datei <code>Klassen.txt</code> hat je Zeile eine Zuordnung: reale Klasse, Semikolon, "
                        "Name des Containers (<code>8a;Abi05a</code>), in UTF-8 oder Windows-1252. klassomat liest die "
                        "erste dieser Dateien, die es gibt:</p>%1"
                        "<p>Gibt es keine, sind die Formen der Eintragung gesperrt. Ein Beispiel liegt in "
                        "<code>/usr/share/doc/klassomat/Klassen.txt</code>.</p>")
             .arg(pathList(runs::classListCandidates(programFolder)))},
        {QStringLiteral("Vorschau, Verlauf und Protokoll"),
         QStringLiteral(
             "<p><b>F5</b> öffnet die „Vorschau“: was ein Lauf mit dem gewählten Startkontext und der gewählten Form "
             "tun wird, bevor er beginnt – für jeden Benutzer den alten und den neuen Wert, und je Klasse, wie viele "
             "Benutzer sich ändern, gleich bleiben oder ausgelassen werden.</p>"
             "<p><b>F6</b> öffnet den „Verlauf“: die Läufe dieses Datenordners, zu jedem Lauf sein Laufprotokoll, und "
             "„Zurücknehmen…“, das einen Lauf nach einer Probe, Zustimmung und Bestätigung zurücknimmt.</p>"
             "<p>Ein Rechtsklick auf das Protokoll des Laufs, die Menütaste oder <b>Umschalt+F10</b> öffnet sein "
             "Kontextmenü: „Kopieren“ (die markierten Zeilen), „Alles kopieren“, „Speichern unter…“ (als "
             "Textdatei), dann „Vorschau…“ und „Verlauf…“.</p>")},
        {QStringLiteral("Tastatur"),
         QStringLiteral("<ul>"
                        "<li><b>F4</b>: öffnet die Auswahl des Startkontexts.</li>"
                        "<li><b>Tab</b>, <b>Umschalt+Tab</b>: gehen von Feld zu Feld; im Verzeichnisbaum wählen die "
                        "Pfeiltasten einen Container, <b>Eingabe</b> übernimmt ihn.</li>"
                        "<li><b>Alt+A</b>: drückt „Ausfuehren“, während eines Laufs „Abbrechen“.</li>"
                        "<li><b>Leertaste</b>: drückt die Schaltfläche, die den Fokus hat.</li>"
                        "<li><b>Esc</b>: schließt einen Dialog wie „Abbrechen“ oder „Nein“.</li>"
                        "<li><b>F5</b>: zeigt die Vorschau, <b>F6</b> den Verlauf.</li>"
                        "<li>Im Protokoll: <b>Strg+A</b> markiert alle Zeilen, <b>Umschalt</b> mit Pfeiltaste oder "
                        "Klick markiert mehrere, <b>Strg+C</b> kopiert die markierten.</li>"
                        "<li><b>F1</b>: zeigt diese Hilfe.</li>"
                        "</ul>")},
        {QStringLiteral("Laufprotokolle und Rücknahme"),
         QStringLiteral("<p>Jeder Lauf hinterlässt ein Laufprotokoll im Ordner <code>%1</code>, nur für seinen "
                        "Eigentümer lesbar: wer, wann, Baum, Kontext und Form, dann je Benutzer die alten und neuen "
                        "Werte und das Ergebnis. Es ist LDIF, das <code>ldapmodify</code> anwenden kann.</p>"
                        "<p>Im Terminal zeigt <code>klassomat runs</code> die Läufe; <code>klassomat undo "
                        "<i>Kennung</i></code> nimmt einen Lauf zurück, wo der Wert noch der geschriebene ist, und "
                        "nennt jeden Benutzer, den es auslässt. <code>--dry-run</code> zeigt vorher, was geschähe.</p>")
             .arg(QDir::toNativeSeparators(runs::runsFolder()).toHtmlEscaped())},
        {QStringLiteral("Mehr"),
         QStringLiteral("<p>Die Handbuchseite: <code>man klassomat</code> "
                        "(<code>/usr/share/man/man1/klassomat.1.gz</code>). <code>klassomat --help</code> und "
                        "<code>klassomat run --help</code> nennen alle Optionen.</p>")},
    };
}

QString plainTextOf(const QString &html)
{
    QTextDocument document;
    document.setHtml(html);
    return document.toPlainText().trimmed();
}

// The frame that the window manager gives a window: the owner's, already on
// the screen, stands in for the one that the help will get.
QMargins frameOf(const QWidget *window)
{
    const QWindow *handle = window ? window->window()->windowHandle() : nullptr;
    return handle ? handle->frameMargins() : QMargins();
}

} // namespace

HelpWindow::HelpWindow(QWidget *owner, const QString &programFolder)
    : QDialog(owner)
{
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("klassomat – Hilfe"));

    auto *pages = new QWidget;
    auto *column = new QVBoxLayout(pages);
    for (const Section &section : helpSections(programFolder)) {
        const QString html = QStringLiteral("<h3>%1</h3>%2").arg(section.title.toHtmlEscaped(), section.body);
        auto *label = new QLabel(html, pages);
        label->setObjectName(QStringLiteral("Section"));
        label->setTextFormat(Qt::RichText);
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::TextBrowserInteraction); // Tab reaches it, the text can be copied
        label->setAccessibleName(plainTextOf(html));
        column->addWidget(label);
        Sections.append(label);
    }
    column->addStretch();
    auto *scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("Text"));
    scroll->setWidgetResizable(true);
    scroll->setWidget(pages);
    scroll->setAccessibleName(QStringLiteral("Hilfe"));
    scroll->setAccessibleDescription(QStringLiteral("Was klassomat tut und wie man es bedient."));

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
    layout->addWidget(scroll);
    layout->addLayout(buttons);

    // As large as reads well, but never taller or wider than the screen
    // (1366 × 768 at 150 % leaves 512 pixels): the text scrolls, the buttons stay.
    const QScreen *screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    const QSize room = screen->availableGeometry().size().shrunkBy(frameOf(owner));
    resize(QSize(560, 520).boundedTo(room));
    platform::centreOnScreen(this);
}

QString HelpWindow::plainText() const
{
    QStringList texts;
    for (const QLabel *section : Sections)
        texts.append(section->accessibleName());
    return texts.join(QStringLiteral("\n\n"));
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
