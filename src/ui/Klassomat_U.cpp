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
#include "runs/run_record.h"
#include "ui/check_box.h"
#include "ui/log_list.h"
#include "ui/picture_button.h"
#include "ui/radio_group.h"
#include "ui/status_bar.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QScopeGuard>
#include <QShortcut>
#include <QtNumeric>

#include <functional>
#include <memory>

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
    EdContext->setObjectName(QStringLiteral("EdContext"));
    EdContext->setReadOnly(true);
    EdContext->setGeometry(16, 32, 321, 21);
    EdContext->setAccessibleName(QStringLiteral("Startkontext"));
    EdContext->setAccessibleDescription(QStringLiteral("Der Container, unter dem die Benutzer gesucht werden. F4 wählt ihn aus."));
    connect(EdContext, &QLineEdit::textChanged, this, [this] { platform::guarded([this] { EdContextChange(); }); });

    BuContext = new ui::PictureButton(this);
    BuContext->setObjectName(QStringLiteral("BuContext"));
    BuContext->setGeometry(344, 32, 23, 22);
    BuContext->setFocusPolicy(Qt::NoFocus);
    BuContext->setGlyph(ui::contextPicture());
    BuContext->setNumGlyphs(2);
    BuContext->setToolTip(QStringLiteral("Startkontext wählen (F4)"));
    BuContext->setAccessibleName(QStringLiteral("Startkontext wählen"));
    BuContext->setAccessibleDescription(QStringLiteral("Öffnet den Verzeichnisbaum, in dem der Startkontext gewählt wird (F4)."));
    // The button takes no focus, so the keyboard reaches it through F4.
    auto *browse = new QShortcut(QKeySequence(Qt::Key_F4), this);
    connect(browse, &QShortcut::activated, BuContext, &QToolButton::click);
    connect(BuContext, &QToolButton::clicked, this, [this] { platform::guarded([this] { BuContextClick(); }); });

    ChSub = new ui::CheckBox(QStringLiteral("Gesamten Teilbaum durchsuchen"), this);
    ChSub->setObjectName(QStringLiteral("ChSub"));
    ChSub->setGeometry(24, 64, 193, 17);
    ChSub->setAccessibleDescription(QStringLiteral("Sucht die Benutzer auch in allen Containern unterhalb des Startkontexts."));

    raForm = new ui::RadioGroup(this, QStringLiteral("Form der Eintragung"),
                                {QStringLiteral("Abi05a (Klassenbezeichnung im Computer, OU)"),
                                 QStringLiteral("8a (Reale Klassenbezeichnung)"), QStringLiteral("8a, Abi05 "),
                                 QStringLiteral("Abi05, 8a")});
    raForm->setObjectName(QStringLiteral("raForm"));
    raForm->setGeometry(16, 96, 273, 97);
    raForm->setItemIndex(0);
    raForm->setAccessibleName(QStringLiteral("Form der Eintragung"));
    raForm->setAccessibleDescription(QStringLiteral("Was in das Feld Department eingetragen wird."));

    buAusfuehren = new ui::PictureButton(this);
    buAusfuehren->setObjectName(QStringLiteral("buAusfuehren"));
    buAusfuehren->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    buAusfuehren->setFocusPolicy(Qt::StrongFocus);
    buAusfuehren->setText(QStringLiteral("Ausführen"));
    buAusfuehren->setGeometry(328, 136, 73, 49);
    buAusfuehren->setAccessibleDescription(
        QStringLiteral("Trägt nach Zustimmung und Bestätigung die Klassen ein; während eines Laufs bricht es ihn ab."));
    connect(buAusfuehren, &QToolButton::clicked, this, [this] { platform::guarded([this] { buAusfuehrenClick(); }); });

    PaFortschritt = new QFrame(this);
    PaFortschritt->setObjectName(QStringLiteral("PaFortschritt"));
    PaFortschritt->setFrameShape(QFrame::Panel);
    PaFortschritt->setFrameShadow(QFrame::Raised);
    PaFortschritt->setGeometry(16, 216, 409, 97);
    PaFortschritt->setAccessibleName(QStringLiteral("Fortschritt"));
    Label5 = platform::label(PaFortschritt, QStringLiteral("Label5"),
                             QStringLiteral("Klassenbezeichnung in Department-Field eingetragen bei"), {8, 8});
    ListBox1 = new ui::LogList(PaFortschritt);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setGeometry(8, 24, 393, 65);
    ListBox1->setFont(platform::monospacedDesignFont());
    ListBox1->setAccessibleName(QStringLiteral("Protokoll"));
    ListBox1->setAccessibleDescription(QStringLiteral("Die Benutzer des Laufs, jeder mit der eingetragenen Klasse."));
    QPalette silver = ListBox1->palette();
    silver.setColor(QPalette::Base, QColor(192, 192, 192));
    ListBox1->setPalette(silver);

    StatusBar1 = new ui::StatusBar(this, 150);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setGeometry(0, 341 - 19, 441, 19);
    StatusBar1->setAccessibleName(QStringLiteral("Statusleiste"));
    StatusBar1->setPanelText(1, QStringLiteral("Freeware - klassomat"));

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
    const QString path = ClassListPath(FProgramFolder);
    if (!QFileInfo::exists(path)) {
        raForm->setEnabled(false);
        raForm->setToolTip(QStringLiteral("Keine Klassenliste gefunden. Gesucht wurde in dieser Reihenfolge:\n")
                           + QDir::toNativeSeparators(ClassListCandidates(FProgramFolder).join(QLatin1Char('\n'))));
        return;
    }
    const runs::ClassList read = runs::readClassList(path);
    FClassList = read.lines;
    FClassListPath = read.path;
    FClassListSha256 = read.sha256;
}

QString TForm1::LookupClass(const QString &container) const
{
    return LookupClassIn(FClassList, container);
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
    qint32 stored = 0; // written or already equal: what the closing line counts
    ListBox1->clearLines();

    std::unique_ptr<runs::RunRecordWriter> record;
    std::exception_ptr failure;
    try {
        TheNDK().SetSubtreeSearch(ChSub->isChecked());
        // The search brings each user's old values, for the record and so an
        // equal value is not written again.
        TheNDK().SearchObjects(FStartContext, QStringLiteral("OU"), QStringLiteral("User"), *results);
        const qsizetype total = results->Count();
        QList<runs::FoundUser> found;
        found.reserve(total);
        for (qsizetype i = 0; i < total; ++i)
            found.append({results->Object(i)->FFullName, results->Object(i)->FDn, results->Object(i)->FValues});
        const QHash<QString, QStringList> dnsByName = runs::dnsByFullName(found);
        record = std::make_unique<runs::RunRecordWriter>(runs::runsFolder(), RecordHeader());
        for (qsizetype i = 0; i < total; ++i) {
            platform::processMessages();
            platform::DelayWithMessages(50);
            if (FCancelRequested)
                break;
            const TNDSObj &hit = *results->Object(i);
            counter = checkedIncrement(counter);
            const int form = raForm->ItemIndex();
            runs::PlannedUser planned = runs::planUser(found.at(i), form, FClassList,
                                                       dnsByName.value(hit.FFullName).size() > 1);
            planned.index = static_cast<int>(i + 1);
            if (StoreDesignation(planned, *record, dnsByName.value(hit.FFullName)))
                stored = checkedIncrement(stored);
            StatusBar1->setPanelText(0, QStringLiteral("%1/%2 ").arg(i).arg(total));
            const QString dotted = TheNDK().ToDottedName(hit.FFullName);
            AddLogLine(dotted.leftJustified(40) + QLatin1Char(' ') + planned.designation);
            ScrollLogToEnd();
        }
    } catch (...) {
        failure = std::current_exception();
    }
    if (record) {
        try {
            record->finish();
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }

    if (NDK)
        NDK->SetSubtreeSearch(true);
    StatusBar1->setPanelText(0, QStringLiteral("%1/%2").arg(counter).arg(results->Count()));
    results.reset();
    SetRunButtonFace(FGlyphExecute);
    buAusfuehren->setEnabled(true);
    if (FCancelRequested) {
        AddLogLine(QStringLiteral("***abgebrochen***"));
    } else {
        AddLogLine(QString(52, QLatin1Char('-')));
        AddLogLine(QStringLiteral("eingetragen bei %1 Benutzern").arg(stored));
    }
    ScrollLogToEnd();
    if (failure)
        std::rethrow_exception(failure);
    if (NDK && !NDK->FReferences.isEmpty()) // after the run, which wrote the users it found
        throw platform::Error(QStringLiteral("Nicht durchsucht, weil der Server dafür auf einen anderen verweist: %1")
                                  .arg(NDK->FReferences.join(QStringLiteral(", "))));
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

bool TForm1::StoreDesignation(const runs::PlannedUser &planned, runs::RunRecordWriter &record, const QStringList &dns)
{
    runs::RecordedUser change = planned.recorded();
    switch (planned.verdict) {
    case runs::Verdict::Unchanged:
        change.outcome = runs::Outcome::Unchanged;
        record.notSent(change);
        return true;
    case runs::Verdict::NameNotUnique:
        change.outcome = runs::Outcome::Skipped;
        change.message = runs::verdictText(planned.verdict);
        record.notSent(change);
        throw platform::Error(QStringLiteral("%1 bezeichnet mehrere Objekte (%2) und wird nicht beschrieben")
                                  .arg(planned.user.fullName, dns.join(QStringLiteral("; "))));
    case runs::Verdict::Change:
    case runs::Verdict::Removes:
    case runs::Verdict::ClassMissing:
        break;
    }
    // An empty designation (form 1 over a class the class list lacks) would
    // remove the department; the window keeps the old value, and the closing
    // line does not count the user.
    if (planned.designation.isEmpty()) {
        change.outcome = runs::Outcome::Skipped;
        change.message = QStringLiteral("leere Bezeichnung");
        record.notSent(change);
        return false;
    }
    record.ahead({change});
    try {
        if (planned.user.values.size() <= 1 && planned.after == QStringList{planned.designation})
            TheNDK().SetAttribute(planned.user.fullName, QStringLiteral("OU"), planned.designation);
        else
            TheNDK().SetAttributeValues(planned.user.fullName, QStringLiteral("OU"), planned.user.values, planned.after);
    } catch (const std::exception &e) {
        record.outcome(change.index, runs::Outcome::Refused, platform::messageOf(e));
        throw;
    }
    record.outcome(change.index, runs::Outcome::Written);
    return true;
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
        confirmation->Memo1->clear();
        confirmation->Memo1->append(QStringLiteral("Für alle Benutzern im Kontext"));
        confirmation->Memo1->append(EdContext->text());
        if (ChSub->isChecked())
            confirmation->Memo1->append(QStringLiteral("und im gesamten Teilbaum"));
        confirmation->Memo1->append(QStringLiteral("wird bei Department die Klasse eingetragen"));
        confirmation->Memo1->append(QString());
        confirmation->Memo1->append(QStringLiteral("(Die Anwendung erfolgt auf eigene Gefahr!)"));
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
    RunAssignment();
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
