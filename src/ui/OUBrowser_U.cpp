#include "ui/OUBrowser_U.h"

#include "ndk/names.h"
#include "ndk/ndk_u.h"
#include "nwcontrols/NWBrowseLib_TLB.h"
#include "nwcontrols/class_icons.h"
#include "platform/error.h"
#include "platform/handler_guard.h"
#include "platform/placement.h"
#include "platform/text.h"
#include "platform/widgets.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScopeGuard>

TouBrowser *ouBrowser = nullptr;

namespace {
QLabel *legendImage(QWidget *parent, const QString &name, QPoint pos)
{
    auto *image = new QLabel(parent);
    image->setObjectName(name);
    image->setGeometry(pos.x(), pos.y(), 16, 16);
    image->setAttribute(Qt::WA_TranslucentBackground);
    return image;
}
} // namespace

TouBrowser::TouBrowser(QWidget *owner)
    : ModalDialog(owner)
{
    setWindowTitle(QStringLiteral("Auswahl"));
    setClientSize(312, 294);

    OKBtn = platform::pushButton(this, QStringLiteral("OKBtn"), QStringLiteral("OK"), {79, 260, 75, 25});
    OKBtn->setAutoDefault(true);
    OKBtn->setDefault(true);
    connect(OKBtn, &QPushButton::clicked, this, &ModalDialog::accept);
    CancelBtn = platform::pushButton(this, QStringLiteral("CancelBtn"), QStringLiteral("Abbrechen"), {159, 260, 75, 25});
    CancelBtn->setAutoDefault(true);
    connect(CancelBtn, &QPushButton::clicked, this, &ModalDialog::reject);

    NWBrowse1 = std::make_unique<TNWBrowse>(this);
    NWBrowse1->Widget()->setObjectName(QStringLiteral("NWBrowse1"));
    NWBrowse1->Widget()->setGeometry(8, 8, 297, 169);
    NWBrowse1->Widget()->setFont(QApplication::font()); // its own font, not the dialog's
    NWBrowse1->Widget()->setAccessibleName(QStringLiteral("Verzeichnisbaum"));
    NWBrowse1->Widget()->setAccessibleDescription(
        QStringLiteral("Die Container des Verzeichnisses; ein Klick oder die Pfeiltasten wählen einen aus."));
    NWBrowse1->OnEntryClicked = [this](TNWBrowse *sender, const NWBrowseLib_TLB::INWNetworkName &entry) {
        NWBrowse1EntryClicked(sender, entry);
    };

    edAuswahl = new QLineEdit(this);
    edAuswahl->setObjectName(QStringLiteral("edAuswahl"));
    edAuswahl->setGeometry(8, 176, 297, 21);
    edAuswahl->setReadOnly(true);
    edAuswahl->setAccessibleName(QStringLiteral("Auswahl"));
    edAuswahl->setAccessibleDescription(QStringLiteral("Der zuletzt gewählte Eintrag."));
    QPalette menu = edAuswahl->palette();
    menu.setColor(QPalette::Base, menu.color(QPalette::Window));
    edAuswahl->setPalette(menu);

    Image1 = legendImage(this, QStringLiteral("Image1"), {24, 209});
    Image2 = legendImage(this, QStringLiteral("Image2"), {24, 232});
    LaHinweis = new QLabel(this);
    LaHinweis->setObjectName(QStringLiteral("LaHinweis"));
    LaHinweis->setGeometry(48, 208, 249, 41);
    LaHinweis->setWordWrap(true);
    LaHinweis->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    LaHinweis->setTextFormat(Qt::PlainText);

    platform::centreOnScreen(this);
    setTabOrder(OKBtn, CancelBtn);
    setTabOrder(CancelBtn, NWBrowse1->Widget());
    setTabOrder(NWBrowse1->Widget(), edAuswahl);

    FormCreate();
}

TouBrowser::~TouBrowser() = default;

void TouBrowser::FormCreate()
{
    OKBtn->setEnabled(false);
    FBase.clear();
    LaHinweis->clear();
    FFilter.clear();
    FSelectable.clear();
    FSelection.clear();
    FAllowBase = true;
    FExpandMode = 0;
}

void TouBrowser::SetExpandMode(qint32 value)
{
    FExpandMode = (value >= 0 && value <= 2) ? value : 0;
}

void TouBrowser::SetLegendImage(qint16 kind, const QString &className)
{
    QLabel *target = kind == 1 ? Image1 : kind == 2 ? Image2 : nullptr;
    if (!target)
        return;
    const qint32 code = TheNDK().ClassCode(className);
    const QPixmap icon = TheNDK().ImageList.value(code);
    QPixmap bitmap = platform::canvas(16, 16);
    QPainter(&bitmap).drawPixmap(0, 0, icon);
    target->setPixmap(bitmap);
    target->setAccessibleName(nwcontrols::classTitle(code));
}

void TouBrowser::SetHint(const QString &text)
{
    LaHinweis->setText(text);
}

void TouBrowser::showEvent(QShowEvent *event)
{
    ModalDialog::showEvent(event);
    CancelBtn->setFocus(); // OK is disabled: Enter pressed at once cancels
    // Runs as the first thing of the modal loop, so the dialog can end itself.
    QMetaObject::invokeMethod(this, [this] { platform::guarded([this] { FormShow(); }); }, Qt::QueuedConnection);
}

void TouBrowser::FormShow()
{
    if (FBase.isEmpty()) {
        platform::showMessage(QMessageBox::NoIcon, QStringLiteral("Fehler: Base nicht gewählt."));
        done(ResultCancel);
        return;
    }
    if (ndk::IsRootToken(FBase))
        FBase = TheNDK().TreeRoot();
    try {
        FillBrowser();
    } catch (const platform::BusyError &) {
        // Another program holds the tree; the start said so in a box already.
        const QString busy = QStringLiteral("Der Baum %1 ist belegt: ein anderes Programm arbeitet mit ihm. "
                                            "Wählen Sie erneut, wenn es beendet ist.")
                                 .arg(ndk::TreeName(FBase));
        SetHint(busy);
        NWBrowse1->Widget()->setEnabled(false);
        NWBrowse1->Widget()->setAccessibleDescription(busy);
    }
}

void TouBrowser::FillBrowser()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto arrow = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    TheNDK().SetFilters(FFilter);
    TheNDK().NWDir1->SetFullName(FBase);
    NWBrowse1->SetDirectorySource(TheNDK().NWDir1->ControlInterface());
    NWBrowse1->SetExpandMode(FExpandMode);
}

void TouBrowser::NWBrowse1EntryClicked(TNWBrowse *, const NWBrowseLib_TLB::INWNetworkName &Entry)
{
    platform::guarded([&] {
        const QString name = Entry.FullName();
        const QString upper = platform::upperAscii(name);
        edAuswahl->setText(TheNDK().ToDottedName(upper));
        const QString className = platform::upperAscii(TheNDK().GetEntryClass(name));

        if (!FSelectable.isEmpty()
            && !(platform::upperAscii(FSelectable) + QLatin1Char(',')).contains(className + QLatin1Char(','))) {
            OKBtn->setEnabled(false);
            FSelection.clear();
            return;
        }
        OKBtn->setEnabled(true);
        FSelection = name;
        if (!FAllowBase && (upper == platform::upperAscii(FBase) || className == QLatin1String("TOP"))) {
            OKBtn->setEnabled(false);
            FSelection.clear();
        }
    });
}
