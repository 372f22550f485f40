#pragma once

#include "nwcontrols/NWDirLib_TLB.h"
#include "nwcontrols/NWSessLib_TLB.h"

#include <QList>
#include <QObject>
#include <QPixmap>
#include <QString>
#include <QStringList>

#include <exception>
#include <memory>
#include <vector>

// One search hit.
class TNDSObj {
public:
    explicit TNDSObj(QString fullName) : FFullName(std::move(fullName)) {}
    QString FFullName; // exactly as the directory control delivered it
    // When the search named an attribute: the hit's DN and that attribute's values.
    QString FDn;
    QStringList FValues;
};

// An ordered list of texts, each carrying an optional hit record that the
// list owns: releasing the list releases its records.
class TStringList {
public:
    void Add(QString text, std::unique_ptr<TNDSObj> object);
    [[nodiscard]] qsizetype Count() const { return static_cast<qsizetype>(m_entries.size()); }
    [[nodiscard]] const QString &Text(qsizetype index) const { return m_entries.at(static_cast<size_t>(index)).text; }
    [[nodiscard]] TNDSObj *Object(qsizetype index) const { return m_entries.at(static_cast<size_t>(index)).object.get(); }

private:
    struct Entry {
        QString text;
        std::unique_ptr<TNDSObj> object;
    };
    std::vector<Entry> m_entries;
};

// The directory facade: hosts the directory controls and the class icons, and
// offers the rest of the program tree choice, the tree root, name conversion,
// class codes, object search, class lookup and attribute writes.
class TNDK : public QObject {
    Q_OBJECT
public:
    // Builds the controls, then runs FormCreate, which picks the tree (asking
    // with TTreeSelect when there are two or more). A failing control call in
    // FormCreate is shown in the standard error box; construction completes.
    explicit TNDK(QObject *owner);
    ~TNDK() override;

    QString TreeRoot();
    [[nodiscard]] QString ToDottedName(const QString &fullName) const;
    [[nodiscard]] qint32 ClassCode(const QString &className) const;

    // Searches the objects of `ClassName` below `Context` (a full name, or
    // "[Root]" in any letter case) and appends one entry per hit to `List`,
    // handling window messages until the search is complete or CancelSearch
    // gives it up. A search that fails, at its start or later, raises its
    // error. A `SearchText` names an attribute whose values (and the DN) each
    // hit record then carries.
    void SearchObjects(QString Context, const QString &SearchText, const QString &ClassName, TStringList &List);
    // Ends the wait of SearchObjects at once; it returns with what the list
    // holds. The control ends its search too, and the directory drops it.
    void CancelSearch();
    void SetAttribute(const QString &FullName, const QString &AttributeName, const QString &Value);
    // Replaces the values `Before` (as the search found them) with `After`,
    // storing only the difference, so other values of the attribute stay.
    void SetAttributeValues(const QString &FullName, const QString &AttributeName, const QStringList &Before,
                            const QStringList &After);
    QString GetEntryClass(const QString &FullName);
    // Whether the tree of `FullName` compares the attribute's values regardless of letter case.
    bool ValuesIgnoreCase(const QString &FullName, const QString &AttributeName);
    void SetSubtreeSearch(bool Subtree);
    void SetFilters(const QString &Filters);

    // Components, in the order they are created.
    std::unique_ptr<TNWDir> NWDir1;
    std::unique_ptr<TNWSess> NWSess1;
    QList<QPixmap> ImageList;

    QString FTreeRoot;
    qint32 FScope = 2;
    bool FDottedResults = true;
    TStringList *FResultList = nullptr;
    bool FSearching = false;
    // The parts of the tree the last search could not look into, by URL.
    QStringList FReferences;

private:
    void FormCreate();
    QString ChooseTree();
    void NWDir1SearchCompleted(TNWDir *Sender, const QVariant &Results);
    void AwaitSearch();

    std::exception_ptr FSearchFailure;
    bool FSearchCancelled = false;
};

// The one facade, created and freed by the main window.
extern TNDK *NDK;

// The facade, or an error when its creation failed at start.
TNDK &TheNDK();
