#include "ndk/ndk_u.h"

#include "nwcontrols/class_icons.h"
#include "ndk/names.h"
#include "ndk/treeSelect_u.h"
#include "platform/error.h"
#include "platform/handler_guard.h"
#include "platform/message_pump.h"

#include <QComboBox>
#include <QScopeGuard>

TNDK *NDK = nullptr;

TNDK &TheNDK()
{
    if (!NDK)
        throw platform::Error(QStringLiteral("Keine Verbindung zum Verzeichnis"));
    return *NDK;
}

void TStringList::Add(QString text, std::unique_ptr<TNDSObj> object)
{
    m_entries.push_back({std::move(text), std::move(object)});
}

TNDK::TNDK(QObject *owner)
    : QObject(owner),
      NWDir1(std::make_unique<TNWDir>()),
      NWSess1(std::make_unique<TNWSess>()),
      ImageList(nwcontrols::classIcons())
{
    setObjectName(QStringLiteral("NDK"));
    NWDir1->OnSearchCompleted = [this](TNWDir *sender, const QVariant &results) {
        NWDir1SearchCompleted(sender, results);
    };
    platform::guarded([this] { FormCreate(); });
}

TNDK::~TNDK() = default;

void TNDK::FormCreate()
{
    FTreeRoot.clear();
    FScope = 2;
    FDottedResults = true;

    const QString tree = ChooseTree();
    NWDir1->SetFullName(tree);
    FTreeRoot = tree;
}

QString TNDK::ChooseTree()
{
    if (NWSess1->AttachedTrees().Count() < 2)
        return NWSess1->AttachedTrees().Item(0).FullName();

    const auto dialog = std::make_unique<TTreeSelect>(nullptr);
    const qint32 count = NWSess1->AttachedTrees().Count();
    for (qint32 i = 0; i < count; ++i)
        dialog->ComboBox1->addItem(NWSess1->AttachedTrees().Item(i).FullName());
    dialog->ComboBox1->setCurrentIndex(0);
    dialog->exec(); // however it is closed, the combo box's text is the choice
    return dialog->ComboBox1->currentText();
}

QString TNDK::TreeRoot()
{
    if (!FTreeRoot.isEmpty())
        return FTreeRoot;
    // Everything before the third backslash: NDS:\\TREE out of NDS:\\TREE\O\OU.
    const QString fullName = NWDir1->FullName();
    QString root;
    int backslashes = 0;
    for (const QChar c : fullName) {
        if (c == QLatin1Char('\\'))
            ++backslashes;
        if (backslashes >= 3)
            break;
        root += c;
    }
    FTreeRoot = root;
    return FTreeRoot;
}

QString TNDK::ToDottedName(const QString &fullName) const
{
    return ndk::ToDottedName(fullName);
}

qint32 TNDK::ClassCode(const QString &className) const
{
    return nwcontrols::classCode(className);
}

void TNDK::SearchObjects(QString Context, const QString &SearchText, const QString &ClassName, TStringList &List)
{
    if (ndk::IsRootToken(Context))
        Context = TreeRoot();

    FSearchCancelled = false;
    FSearchFailure = nullptr;
    // The list belongs to the caller and may be released right after we return:
    // a completion that comes later must find no list to touch.
    const auto release = qScopeGuard([this] { FResultList = nullptr; });

    // A search given up by Cancel may still be under way in the control, and
    // its answer could not be told from this one's: let it come and go first.
    AwaitSearch();
    if (!FSearchCancelled) {
        FResultList = &List;
        FSearching = true;
        try {
            NWDir1->Search(SearchText, ClassName, FScope, Context, 0);
        } catch (...) {
            FSearching = false; // a search that did not start reports no end
            throw;
        }
        platform::processMessages(); // at least one pass, even if the event came early
        AwaitSearch();
        FReferences = FSearchCancelled ? QStringList() : NWDir1->SearchReferences();
    }
    FDottedResults = true;
    if (FSearchFailure)
        std::rethrow_exception(std::exchange(FSearchFailure, nullptr));
}

void TNDK::AwaitSearch()
{
    while (FSearching && !FSearchCancelled)
        platform::waitForMessages();
}

void TNDK::CancelSearch()
{
    FSearchCancelled = true;
    if (FSearching)
        NWDir1->CancelSearch();
}

void TNDK::NWDir1SearchCompleted(TNWDir *, const QVariant &Results)
{
    if (!FSearching)
        return; // no search of ours is outstanding
    const auto done = qScopeGuard([this] { FSearching = false; });
    if (!FResultList)
        return; // given up by Cancel: its list may be gone
    try {
        automation::rethrowIfFailure(Results);
        if (Results.metaType() != QMetaType::fromType<QVariantList>())
            throw platform::Error(QStringLiteral("Das Suchergebnis des Verzeichnisses ist keine Liste"));
        for (const QVariant &element : Results.toList()) {
            const bool withValues = element.metaType() == QMetaType::fromType<QVariantList>();
            const QVariantList hit = withValues ? element.toList() : QVariantList{element};
            if (!hit.value(0).canConvert<QString>() || (withValues && hit.size() != 3))
                throw platform::Error(QStringLiteral("Ein Suchergebnis des Verzeichnisses ist kein Text"));
            QString text = hit.at(0).toString();
            if (text.isEmpty())
                continue;
            auto record = std::make_unique<TNDSObj>(text);
            if (withValues) {
                record->FDn = hit.at(1).toString();
                record->FValues = hit.at(2).toStringList();
            }
            if (FDottedResults)
                text = ToDottedName(text);
            FResultList->Add(text, std::move(record));
        }
    } catch (...) {
        // The waiting SearchObjects raises it, so the caller's failure path runs.
        FSearchFailure = std::current_exception();
    }
}

void TNDK::SetAttribute(const QString &FullName, const QString &AttributeName, const QString &Value)
{
    NWDir1->SetFullName(FullName);
    NWDirLib_TLB::INWEntry entry = NWDir1->Entry();
    entry.SetValue(AttributeName, QVariant(Value));
    entry.Update();
}

void TNDK::SetAttributeValues(const QString &FullName, const QString &AttributeName, const QStringList &Before,
                              const QStringList &After)
{
    NWDir1->SetFullName(FullName);
    NWDirLib_TLB::INWEntry entry = NWDir1->Entry();
    entry.SetValues(AttributeName, Before, After);
    entry.Update();
}

bool TNDK::ValuesIgnoreCase(const QString &FullName, const QString &AttributeName)
{
    NWDir1->SetFullName(ndk::IsRootToken(FullName) ? FTreeRoot : FullName);
    return NWDir1->Entry().IgnoresCase(AttributeName);
}

QString TNDK::GetEntryClass(const QString &FullName)
{
    NWDir1->SetFullName(FullName);
    return NWDir1->Entry().Class().Name();
}

void TNDK::SetSubtreeSearch(bool Subtree)
{
    FScope = Subtree ? 2 : 1;
}

void TNDK::SetFilters(const QString &Filters)
{
    NWDir1->SetFilters(Filters);
}
