#include "ui/Klassomat_U.h"

#include "ndk/ndk_u.h"
#include "platform/design_fonts.h"
#include "platform/error.h"
#include "platform/handler_guard.h"
#include "platform/message_pump.h"
#include "platform/placement.h"
#include "platform/widgets.h"
#include "ui/HaftungsZustimmung.h"
#include "ui/KlassomatAusfuehren.h"
#include "ui/OUBrowser_U.h"
#include "ui/button_pictures.h"
#include "ndk/names.h"
#include "runs/class_list.h"
#include "runs/designation.h"
#include "runs/plan.h"
#include "runs/run.h"
#include "runs/run_record.h"
#include "ui/check_box.h"
#include "ui/help_window.h"
#include "ui/history_window.h"
#include "ui/log_list.h"
#include "ui/picture_button.h"
#include "ui/preview_window.h"
#include "ui/radio_group.h"
#include "ui/repaint_pacer.h"
#include "ui/run_notification.h"
#include "ui/status_bar.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QScopeGuard>
#include <QShortcut>
#include <QtNumeric>

#include <functional>
#include <memory>
#include <optional>

TForm1 *Form1 = nullptr;

namespace {

const QString kCaptionExecute = QStringLiteral("&Ausfuehren");
const QString kCaptionCancel = QStringLiteral("&Abbrechen");

// Counts and positions raise an error instead of wrapping.
qint32 checkedIncrement(qint32 value)
{
    qint32 result = 0;
    if (qAddOverflow(value, 1, &result))
        throw platform::Error(QStringLiteral("Überlauf bei der Zählung"));
    return result;
}

// The closing line more when users were not stored; empty when all were.
// `notReached`: the users the run ended before.
QString notStoredLine(const runs::Counts &counts, qsizetype notReached)
{
    QStringList parts;
    if (counts.refused > 0)
        parts.append(QStringLiteral("abgelehnt bei %1 Benutzern").arg(counts.refused));
    if (counts.unconfirmed > 0)
        parts.append(QStringLiteral("unbestätigt bei %1 Benutzern").arg(counts.unconfirmed));
    if (const qsizetype notTried = counts.notTried + notReached; notTried > 0)
        parts.append(QStringLiteral("nicht versucht: %1").arg(notTried));
    return parts.join(QStringLiteral(", "));
}

// Frees a dialog and clears its global however the handler is left.
template <typename Dialog>
auto ownedDialog(Dialog *&global, QWidget *owner)
{
    global = new Dialog(owner);
    return std::unique_ptr<Dialog, std::function<void(Dialog *)>>(global, [&global](Dialog *dialog) {
        global = nullptr;
        delete dialog;
    });
}

} // namespace

namespace {

// Where each control sits, and what a screen reader says about it.
struct Placement {
    const char *objectName;
    QRect geometry;
    const char *accessibleName;
    const char *accessibleDescription;
};
constexpr Placement kPlacements[] = {
    {"EdContext", {16, 32, 321, 21}, "Startkontext", "Der Container, unter dem die Benutzer gesucht werden. F4 wählt ihn aus."},
    {"BuContext", {344, 32, 23, 22}, "Startkontext wählen", "Öffnet den Verzeichnisbaum, in dem der Startkontext gewählt wird (F4)."},
    {"ChSub", {24, 64, 193, 17}, nullptr, "Sucht die Benutzer auch in allen Containern unterhalb des Startkontexts."},
    {"raForm", {16, 96, 273, 97}, "Form der Eintragung", "Was in das Feld Department eingetragen wird."},
    {"buAusfuehren", {328, 136, 73, 49}, nullptr,
     "Trägt nach Zustimmung und Bestätigung die Klassen ein; während eines Laufs bricht es ihn ab."},
    {"PaFortschritt", {16, 216, 409, 97}, "Fortschritt", nullptr},
    {"ListBox1", {8, 24, 393, 65}, "Protokoll", "Die Benutzer des Laufs, jeder mit der eingetragenen Klasse."},
    {"StatusBar1", {0, 341 - 19, 441, 19}, "Statusleiste", nullptr},
};

void place(QWidget *widget, const Placement &placement)
{
    widget->setObjectName(QString::fromLatin1(placement.objectName));
    widget->setGeometry(placement.geometry);
    if (placement.accessibleName)
        widget->setAccessibleName(QString::fromUtf8(placement.accessibleName));
    if (placement.accessibleDescription)
        widget->setAccessibleDescription(QString::fromUtf8(placement.accessibleDescription));
}

// A handler runs inside the standard error box's guard, so that no exception
// unwinds through Qt's event dispatch.
template <typename Sender, typename Signal>
void connectHandler(TForm1 *form, Sender *sender, Signal signal, void (TForm1::*handler)())
{
    QObject::connect(sender, signal, form, [form, handler] { platform::guarded([form, handler] { (form->*handler)(); }); });
}

} // namespace

TForm1::TForm1(const QString &programFolder)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                           | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      FProgramFolder(programFolder)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Klassomat - Klassenbezeichnung eintragen"));
    setFont(platform::designFont());
    setFixedSize(441, 341);
    setAutoFillBackground(true);

    Label1 = platform::label(this, QStringLiteral("Label1"), QStringLiteral("Benutzersuche in folgendem Kontext starten"), {16, 16});
    EdContext = new QLineEdit(this);
    EdContext->setReadOnly(true);
    BuContext = new ui::PictureButton(this);
    BuContext->setFocusPolicy(Qt::NoFocus);
    BuContext->setGlyph(ui::contextPicture());
    BuContext->setNumGlyphs(2);
    BuContext->setToolTip(QStringLiteral("Startkontext wählen (F4)"));
    ChSub = new ui::CheckBox(QStringLiteral("Gesamten Teilbaum durchsuchen"), this);
    raForm = new ui::RadioGroup(this, QStringLiteral("Form der Eintragung"),
                                {QStringLiteral("Abi05a (Klassenbezeichnung im Computer, OU)"),
                                 QStringLiteral("8a (Reale Klassenbezeichnung)"), QStringLiteral("8a, Abi05 "),
                                 QStringLiteral("Abi05, 8a")});
    raForm->setItemIndex(0);
    buAusfuehren = new ui::PictureButton(this);
    buAusfuehren->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    buAusfuehren->setFocusPolicy(Qt::StrongFocus);
    buAusfuehren->setText(QStringLiteral("Ausführen"));
    PaFortschritt = new QFrame(this);
    PaFortschritt->setFrameShape(QFrame::Panel);
    PaFortschritt->setFrameShadow(QFrame::Raised);
    Label5 = platform::label(PaFortschritt, QStringLiteral("Label5"),
                             QStringLiteral("Klassenbezeichnung in Department-Field eingetragen bei"), {8, 8});
    ListBox1 = new ui::LogList(PaFortschritt);
    ListBox1->setFont(platform::monospacedDesignFont());
    QPalette silver = ListBox1->palette();
    silver.setColor(QPalette::Base, QColor(192, 192, 192));
    ListBox1->setPalette(silver);
    StatusBar1 = new ui::StatusBar(this, 150);
    StatusBar1->setPanelText(1, QStringLiteral("Freeware - klassomat"));

    QWidget *const placed[] = {EdContext, BuContext, ChSub, raForm, buAusfuehren, PaFortschritt, ListBox1, StatusBar1};
    static_assert(std::size(placed) == std::size(kPlacements));
    for (std::size_t i = 0; i < std::size(kPlacements); ++i)
        place(placed[i], kPlacements[i]);

    connectHandler(this, EdContext, &QLineEdit::textChanged, &TForm1::EdContextChange);
    connectHandler(this, BuContext, &QToolButton::clicked, &TForm1::BuContextClick);
    connectHandler(this, buAusfuehren, &QToolButton::clicked, &TForm1::buAusfuehrenClick);
    // The context button takes no focus, so the keyboard reaches it through F4.
    auto *browse = new QShortcut(QKeySequence(Qt::Key_F4), this);
    connect(browse, &QShortcut::activated, BuContext, &QToolButton::click);
    auto *help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, [this] { ui::showHelp(this, FProgramFolder); });
    // Windows of their own, by key and from the log's context menu; not during a run, whose search and writes they would cross.
    const auto opens = [this](const QString &text, Qt::Key key, std::function<void()> open) {
        auto *action = new QAction(text, ListBox1);
        action->setShortcut(key);
        ListBox1->addAction(action);
        connect(action, &QAction::triggered, this, [this, open] {
            platform::guarded([this, &open] {
                if (FRunning)
                    throw platform::Error(QStringLiteral("Das geht erst, wenn der Lauf zu Ende ist"));
                open();
            });
        });
    };
    opens(QStringLiteral("Vorschau…"), Qt::Key_F5, [this] {
        if (EdContext->text().isEmpty())
            throw platform::Error(QStringLiteral("Wählen Sie zuerst den Startkontext (F4)"));
        ui::showPreview(this, {FStartContext, ChSub->isChecked(), raForm->ItemIndex(), raForm->items().value(raForm->ItemIndex()), FClassList});
    });
    opens(QStringLiteral("Verlauf…"), Qt::Key_F6, [this] { ui::showHistory(this, FDescribeTree); });

    ImageList1[0] = ui::executePicture();
    ImageList1[1] = ui::cancelPicture();

    // Tab order: EdContext, ChSub, buAusfuehren, PaFortschritt, raForm.
    setTabOrder(EdContext, ChSub);
    setTabOrder(ChSub, buAusfuehren);
    setTabOrder(buAusfuehren, ListBox1);
    setTabOrder(ListBox1, raForm);

    platform::centreOnScreen(this);

    platform::guarded([this] { FormCreate(); });
}

TForm1::~TForm1()
{
    platform::guarded([this] { FormDestroy(); });
}

void TForm1::FormCreate()
{
    setWindowTitle(QStringLiteral("klassomat - Klassenbezeichnung eintragen   19.02.03/Qu."));
    NDK = new TNDK(this);
    FStartContext = NDK->TreeRoot();
    EdContext->setText(QString());
    FGlyphCancel = ImageList1[1];
    FGlyphExecute = ImageList1[0];
    SetRunButtonFace(FGlyphExecute);
    buAusfuehren->setEnabled(false);
    FClassList.clear();
    LoadClassList();
    QPalette listPalette = ListBox1->palette();
    listPalette.setColor(QPalette::Base, palette().color(QPalette::Window));
    ListBox1->setPalette(listPalette);
}

void TForm1::FormDestroy()
{
    delete std::exchange(NDK, nullptr);
    FGlyphCancel = QPixmap();
    FGlyphExecute = QPixmap();
    FClassList.clear();
}

void TForm1::SetRunButtonFace(const QPixmap &glyph)
{
    buAusfuehren->setGlyph(glyph);
    if (&glyph == &FGlyphExecute) {
        buAusfuehren->setText(kCaptionExecute);
        buAusfuehren->setNumGlyphs(1);
    } else {
        buAusfuehren->setText(kCaptionCancel);
        buAusfuehren->setNumGlyphs(3);
    }
}

void TForm1::EdContextChange()
{
    buAusfuehren->setEnabled(!EdContext->text().isEmpty());
}

void TForm1::LoadClassList()
{
    const QString path = runs::classListPath(FProgramFolder);
    if (!QFileInfo::exists(path)) {
        raForm->setEnabled(false);
        raForm->setToolTip(runs::noClassListText(FProgramFolder));
        raForm->setAccessibleDescription(raForm->toolTip()); // a screen reader hears why, too
        return;
    }
    const runs::ClassList read = runs::readClassList(path);
    FClassList = read.lines;
    FClassListPath = read.path;
    FClassListSha256 = read.sha256;
    if (!read.note.isEmpty()) { // lines after a NUL are not read
        raForm->setToolTip(read.note);
        raForm->setAccessibleDescription(read.note);
    }
}

QString TForm1::LookupClass(const QString &container) const
{
    return runs::matchClass(FClassList, container).className;
}

void TForm1::AddLogLine(const QString &line)
{
    ListBox1->addLine(line);
}

void TForm1::ScrollLogToEnd()
{
    ListBox1->scrollToEnd();
}

void TForm1::RunAssignment()
{
    FCancelRequested = false;
    auto results = std::make_unique<TStringList>();
    qint32 counter = 0;
    ListBox1->clearLines();

    std::unique_ptr<runs::RunRecordWriter> record;
    std::unique_ptr<runs::Run> run;
    bool cancelledInSearch = false;
    std::exception_ptr failure;
    // Ten frames a second show the log scroll and the count run; a frame per
    // user (one in 50 ms) cost a fifth of the run's time, and no eye reads it.
    std::optional<ui::RepaintPacer> pacer(std::in_place, this, std::chrono::milliseconds(100));
    try {
        TheNDK().SetSubtreeSearch(ChSub->isChecked());
        // The search brings each user's old values, for the record and so an
        // equal value is not written again.
        TheNDK().SearchObjects(FStartContext, QStringLiteral("OU"), QStringLiteral("User"), *results);
        // Cancelled while it searched: nothing is planned, and the server,
        // which may be the reason for the cancel, is asked nothing more.
        cancelledInSearch = FCancelRequested;
        if (!cancelledInSearch)
            WriteUsers(*results, counter, record, run);
    } catch (...) {
        failure = std::current_exception();
    }
    if (run) {
        try {
            if (FCancelRequested)
                run->finishCancelled(static_cast<int>(results->Count() - counter));
            else
                run->finish();
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }

    pacer.reset(); // the closing lines are drawn as they come
    if (NDK)
        NDK->SetSubtreeSearch(true);
    const qsizetype total = results->Count();
    StatusBar1->setPanelText(0, QStringLiteral("%1/%2").arg(counter).arg(total));
    results.reset();
    SetRunButtonFace(FGlyphExecute);
    buAusfuehren->setEnabled(true);
    QStringList closing;
    if (FCancelRequested) {
        closing.append(QStringLiteral("***abgebrochen***"));
    } else {
        // Only users whose value is stored are counted.
        AddLogLine(QString(52, QLatin1Char('-')));
        closing.append(QStringLiteral("eingetragen bei %1 Benutzern").arg(run ? run->counts().stored() : 0));
    }
    if (cancelledInSearch)
        closing.append(QStringLiteral("während der Suche, nichts geschrieben"));
    else if (const QString notStored = notStoredLine(run ? run->counts() : runs::Counts(), total - counter); !notStored.isEmpty())
        closing.append(notStored);
    for (const QString &line : std::as_const(closing))
        AddLogLine(line);
    FRunSummary = closing.join(QStringLiteral(", "));
    ScrollLogToEnd();
    if (failure)
        std::rethrow_exception(failure);
    if (NDK && !NDK->FReferences.isEmpty()) // after the run, which wrote the users it found
        throw platform::Error(QStringLiteral("Nicht durchsucht, weil der Server dafür auf einen anderen verweist: %1")
                                  .arg(NDK->FReferences.join(QStringLiteral(", "))));
}

void TForm1::WriteUsers(const TStringList &results, qint32 &counter, std::unique_ptr<runs::RunRecordWriter> &record,
                        std::unique_ptr<runs::Run> &run)
{
    const qsizetype total = results.Count();
    QList<runs::FoundUser> found;
    found.reserve(total);
    for (qsizetype i = 0; i < total; ++i)
        found.append({results.Object(i)->FFullName, results.Object(i)->FDn, results.Object(i)->FValues});
    const QHash<QString, QStringList> dnsByName = runs::dnsByFullName(found);
    const Qt::CaseSensitivity valueCase = TheNDK().ValuesIgnoreCase(FStartContext, QStringLiteral("OU"))
                                              ? Qt::CaseInsensitive
                                              : Qt::CaseSensitive;
    if (FCancelRequested)
        return; // while the directory was asked how it compares values: nothing is recorded
    record = std::make_unique<runs::RunRecordWriter>(runs::runsFolder(), RecordHeader());
    // Where the record is, for undo: in the log, which can be read and copied.
    const QString recordLine = QStringLiteral("Laufprotokoll: %1 (%2)").arg(QDir::toNativeSeparators(record->path()), record->header().id);
    StatusBar1->setToolTip(recordLine);
    AddLogLine(recordLine);
    // The window has no way to allow a missing class: its users keep their values.
    run = std::make_unique<runs::Run>(*record, [this](const QList<runs::RecordedUser> &changes, const runs::Answered &answered) {
        StoreThroughFacade(changes, answered);
    }, false, false);
    for (qsizetype i = 0; i < total; ++i) {
        platform::processMessages();
        platform::DelayWithMessages(50);
        if (FCancelRequested)
            break;
        const QString fullName = found.at(i).fullName;
        counter = checkedIncrement(counter);
        const QStringList dns = dnsByName.value(fullName);
        runs::PlannedUser planned = runs::planUser(found.at(i), raForm->ItemIndex(), FClassList, dns.size() > 1,
                                                             valueCase);
        planned.index = static_cast<int>(i + 1);
        const runs::Step step = run->take({planned}).constFirst();
        FailUnlessHandled(step, record->header().id);
        StatusBar1->setPanelText(0, QStringLiteral("%1/%2 ").arg(i).arg(total));
        AddLogLine(LogLine(step));
        ScrollLogToEnd();
    }
}

runs::RunHeader TForm1::RecordHeader() const
{
    runs::RunHeader header;
    header.tree = ndk::TreeName(FStartContext);
    header.context = FStartContext;
    header.subtree = ChSub->isChecked();
    header.form = raForm->ItemIndex(); // at the start; the form may change during the run
    header.classesPath = FClassListPath;
    header.classesSha256 = QString::fromLatin1(FClassListSha256);
    header.attribute = QStringLiteral("ou");
    if (FDescribeTree)
        FDescribeTree(header);
    return header;
}

void TForm1::StoreThroughFacade(const QList<runs::RecordedUser> &changes, const runs::Answered &answered)
{
    for (qsizetype i = 0; i < changes.size(); ++i) {
        const runs::RecordedUser &change = changes.at(i);
        std::exception_ptr failure;
        try {
            // Exactly the change the record holds: the values found go, the
            // new one comes, and a value someone added meanwhile stays.
            TheNDK().SetAttributeValues(change.fullName, QStringLiteral("OU"), change.before, change.after);
        } catch (...) {
            failure = std::current_exception();
        }
        if (!answered(i, failure))
            return;
    }
}

void TForm1::FailUnlessHandled(const runs::Step &step, const QString &runId) const
{
    if (step.stored() || step.outcome == runs::Outcome::Skipped)
        return; // a skipped user's log line says why
    const runs::PlannedUser &p = step.planned;
    // The box names the user as the log does, not by its full or LDAP name.
    const QString dotted = TheNDK().ToDottedName(p.user.fullName);
    QString message = step.message;
    message.replace(p.user.fullName, dotted);
    if (!p.user.dn.isEmpty())
        message.replace(p.user.dn, dotted, Qt::CaseInsensitive);
    if (step.outcome == runs::Outcome::Unconfirmed)
        throw platform::Error(QStringLiteral("Unbestätigt: %1\n\nDer Server hat nicht rechtzeitig geantwortet; ob er die Änderung "
                                             "gespeichert hat, ist offen. Klären lässt es sich, indem der Lauf %2 zurückgenommen "
                                             "wird: im Verlauf (F6) oder mit klassomat undo %2")
                                  .arg(message, runId));
    throw platform::Error(message);
}

QString TForm1::LogLine(const runs::Step &step) const
{
    const QString dotted = TheNDK().ToDottedName(step.planned.user.fullName).leftJustified(40) + QLatin1Char(' ');
    if (step.outcome == runs::Outcome::Skipped)
        return dotted + QStringLiteral("– nicht eingetragen: ") + step.message;
    return dotted + step.planned.designation;
}

void TForm1::PlaceDialog(QWidget *dialog) const
{
    // For top-level windows pos() and move() are the outer frame's corner.
    dialog->move(pos() + QPoint(230, 130));
}

void TForm1::BuContextClick()
{
    const auto browser = ownedDialog(ouBrowser, this);
    browser->FBase = QStringLiteral("[Root]");
    browser->setWindowTitle(QStringLiteral("Startkontext wählen"));
    browser->SetHint(QStringLiteral("Wählen Sie die Organisation oder die Organisatorische Einheit aus."));
    browser->FAllowBase = false;
    browser->FFilter = QStringLiteral("Organizational Unit,Organization,Top");
    browser->SetLegendImage(1, QStringLiteral("Organization"));
    browser->SetLegendImage(2, QStringLiteral("Organizational Unit"));
    browser->SetExpandMode(1);
    if (browser->exec() != platform::ModalDialog::ResultOk)
        return;
    FStartContext = browser->FSelection;
    const QString dotted = TheNDK().ToDottedName(FStartContext);
    if (FStartContext == TheNDK().TreeRoot())
        EdContext->setText(QStringLiteral("[Root] (") + dotted + QLatin1Char(')'));
    else
        EdContext->setText(dotted);
}

void TForm1::buAusfuehrenClick()
{
    if (buAusfuehren->text() == kCaptionCancel) {
        buAusfuehren->setEnabled(false);
        FCancelRequested = true;
        if (NDK)
            NDK->CancelSearch(); // a run still waiting for its users stops waiting
        return;
    }

    {
        const auto consent = ownedDialog(FZustimmung, this);
        PlaceDialog(consent.get());
        if (consent->exec() != platform::ModalDialog::ResultOk)
            return;
    }
    {
        const auto confirmation = ownedDialog(FAusfuehren, this);
        PlaceDialog(confirmation.get());
        confirmation->Memo1->clearLines();
        confirmation->Memo1->addLine(QStringLiteral("Für alle Benutzern im Kontext"));
        confirmation->Memo1->addLine(EdContext->text());
        if (ChSub->isChecked())
            confirmation->Memo1->addLine(QStringLiteral("und im gesamten Teilbaum"));
        confirmation->Memo1->addLine(QStringLiteral("wird bei Department die Klasse eingetragen"));
        confirmation->Memo1->addLine(QString());
        confirmation->Memo1->addLine(QStringLiteral("(Die Anwendung erfolgt auf eigene Gefahr!)"));
        if (confirmation->exec() != platform::ModalDialog::ResultOk)
            return;
    }
    StartRun();
}

void TForm1::StartRun()
{
    SetRunButtonFace(FGlyphCancel);
    FRunning = true;
    const auto ended = qScopeGuard([this] {
        FRunning = false;
        if (FCloseAfterRun)
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    });
    QElapsedTimer clock;
    clock.start();
    try {
        RunAssignment();
    } catch (const std::exception &e) {
        ui::notifyRunEnd(this, std::chrono::milliseconds(clock.elapsed()), platform::messageOf(e), true);
        throw;
    }
    ui::notifyRunEnd(this, std::chrono::milliseconds(clock.elapsed()), FRunSummary, false);
}

void TForm1::closeEvent(QCloseEvent *event)
{
    if (FRunning) {
        FCloseAfterRun = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}
