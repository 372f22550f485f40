#pragma once

#include "nwcontrols/NWBrowseLib_TLB.h"
#include "platform/modal_dialog.h"

#include <QString>

#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;

// The container browser: the administrator picks one directory object in a
// tree view; the dialog accepts or refuses each clicked entry by its rules and
// keeps the full name of the accepted one in FSelection.
class TouBrowser : public platform::ModalDialog {
    Q_OBJECT
public:
    explicit TouBrowser(QWidget *owner);
    ~TouBrowser() override;

    void SetExpandMode(qint32 value);
    void SetLegendImage(qint16 kind, const QString &className);
    void SetHint(const QString &text);

    QPushButton *OKBtn;
    QPushButton *CancelBtn;
    std::unique_ptr<TNWBrowse> NWBrowse1;
    QLineEdit *edAuswahl;
    QLabel *Image1;
    QLabel *Image2;
    QLabel *LaHinweis;

    QString FBase;
    QString FFilter;
    QString FSelectable;
    QString FSelection;
    bool FAllowBase = true;
    qint32 FExpandMode = 0;

    // The click handler, also called by tests as the browse control would.
    void NWBrowse1EntryClicked(TNWBrowse *Sender, const NWBrowseLib_TLB::INWNetworkName &Entry);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void FormCreate();
    void FormShow();
    void FillBrowser();
};

extern TouBrowser *ouBrowser;
