#include "ndk/treeSelect_u.h"

#include "platform/design_fonts.h"
#include "platform/placement.h"
#include "platform/widgets.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TTreeSelect::TTreeSelect(QWidget *owner)
    : ModalDialog(owner)
{
    setWindowFlag(Qt::WindowContextHelpButtonHint, true);
    setWindowTitle(QStringLiteral("Treeauswahl"));
    setFont(platform::designFont());
    setClientSize(358, 193);

    Label4 = platform::label(this, QStringLiteral("Label4"), QStringLiteral("Sie sind mit mehreren Bäumen verbunden."), {24, 8});
    Label2 = platform::label(this, QStringLiteral("Label2"), QStringLiteral("wählen Sie in der Auswahlliste den  Baum, "), {24, 24});
    Label3 = platform::label(this, QStringLiteral("Label3"), QStringLiteral("mit dem das Programm verbunden werden soll."), {24, 40});
    Label1 = platform::label(this, QStringLiteral("Label1"), QStringLiteral("gewählter Baum"), {24, 72});
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    Label1->adjustSize();

    Button1 = platform::pushButton(this, QStringLiteral("Button1"), QStringLiteral("OK"), {276, 137, 61, 40});
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &ModalDialog::accept);

    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setGeometry(24, 88, 233, 21);
    // On Linux a screen reader names an editable combo box after its label
    // (the buddy relation) and its editor, never after its accessible name.
    ComboBox1->setAccessibleName(QStringLiteral("gewählter Baum"));
    ComboBox1->lineEdit()->setAccessibleName(QStringLiteral("gewählter Baum"));
    Label1->setBuddy(ComboBox1);
    ComboBox1->setAccessibleDescription(QStringLiteral("Der Baum, mit dem das Programm arbeitet; ein Name kann auch eingetippt werden."));

    platform::centreOnScreen(this);

    // Tab order: Button1 first, then ComboBox1.
    setTabOrder(Button1, ComboBox1);
}
