// The consent and confirmation dialogs: their answers, their place beside the
// main window, their texts, and that a context is shown as typed, never as HTML.
#include "platform/message_box.h"
#include "support/form_fixture.h"
#include "support/modal.h"
#include "support/window_test.h"
#include "ui/HaftungsZustimmung.h"
#include "ui/KlassomatAusfuehren.h"
#include "ui/picture_button.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTextEdit>
#include <QtTest>

namespace {
const QByteArray kClassList("8a;Abi05a\n");

// Answers the consent with OK and hands the confirmation to `act`.
struct BothDialogs {
    modal::Answer confirmation;
    modal::Answer consent;
    explicit BothDialogs(std::function<void(QWidget *)> act, std::function<void(QWidget *)> onConsent = {})
        : consent([this, act, onConsent](QWidget *w) {
              if (onConsent)
                  onConsent(w);
              confirmation = modal::Answer(act);
              w->findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
          })
    {
    }
};
} // namespace

class YesNoDialogsTest : public WindowTest {
    Q_OBJECT
private Q_SLOTS:
    void memo_keepsEveryLine_data();
    void memo_keepsEveryLine();
    void results_data();
    void results();
    void placedBesideMainWindow_withTheirTexts();
    void contextLikeHtml_shownAsTyped();
    void errorBox_plainText();
    void textsFitAndEveryControlIsNamed();
};

void YesNoDialogsTest::results_data()
{
    QTest::addColumn<bool>("consent");
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("result");
    for (bool consent : {true, false}) {
        const QString d = QString::fromLatin1(consent ? "consent: " : "confirmation: ");
        QTest::newRow(qPrintable(d + QStringLiteral("Ja"))) << consent << "ok" << 1;
        QTest::newRow(qPrintable(d + QStringLiteral("second button"))) << consent << "cancel" << 2;
        QTest::newRow(qPrintable(d + QStringLiteral("Esc"))) << consent << "esc" << 2;
        QTest::newRow(qPrintable(d + QStringLiteral("close box"))) << consent << "close" << 2;
        QTest::newRow(qPrintable(d + QStringLiteral("Enter at once"))) << consent << "enter" << (consent ? 2 : 1);
    }
}

void YesNoDialogsTest::results()
{
    QFETCH(bool, consent);
    QFETCH(QString, action);
    QFETCH(int, result);
    std::unique_ptr<platform::ModalDialog> dialog;
    if (consent) {
        dialog = std::make_unique<TFZustimmung>(nullptr);
        FZustimmung = static_cast<TFZustimmung *>(dialog.get());
    } else {
        dialog = std::make_unique<TFAusfuehren>(nullptr);
    }
    const auto clear = qScopeGuard([] { FZustimmung = nullptr; });
    const modal::Answer answer([action](QWidget *w) {
        if (action == QLatin1String("ok"))
            w->findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
        else if (action == QLatin1String("cancel"))
            w->findChild<QPushButton *>(QStringLiteral("CancelBtn"))->click();
        else if (action == QLatin1String("esc"))
            QTest::keyClick(w, Qt::Key_Escape);
        else if (action == QLatin1String("close"))
            w->close();
        else
            QTest::keyClick(w->focusWidget() ? w->focusWidget() : w, Qt::Key_Return);
    });
    QCOMPARE(dialog->exec(), result);
    QVERIFY(answer.done());
}

void YesNoDialogsTest::placedBesideMainWindow_withTheirTexts()
{
    FormFixture f(&kClassList);
    f.form->move(100, 50);
    f.form->show();
    f.form->EdContext->setText(QStringLiteral("Abi05a.Gym"));
    QPoint consentAt, confirmAt;
    QStringList memo, notice;
    QColor noticeBase, consentFace;
    BothDialogs dialogs(
        [&](QWidget *w) {
            confirmAt = w->pos();
            memo = w->findChild<QTextEdit *>(QStringLiteral("Memo1"))->toPlainText().split(QLatin1Char('\n'));
            w->findChild<QPushButton *>(QStringLiteral("CancelBtn"))->click();
        },
        [&](QWidget *w) {
            consentAt = w->pos();
            notice = w->findChild<QTextEdit *>(QStringLiteral("Memo1"))->toPlainText().split(QLatin1Char('\n'));
            noticeBase = w->findChild<QTextEdit *>(QStringLiteral("Memo1"))->palette().color(QPalette::Base);
            consentFace = w->palette().color(QPalette::Window);
        });
    f.form->buAusfuehren->click();
    QVERIFY(dialogs.consent.done() && dialogs.confirmation.done());
    QCOMPARE(consentAt, QPoint(330, 180));
    QCOMPARE(confirmAt, QPoint(330, 180));
    QCOMPARE(noticeBase, consentFace);
    QCOMPARE(notice, (QStringList{"Achtung !!!", "Sorgen Sie vor der Anwendung des Programms", QStringLiteral("für eine vollständige Sicherung Ihrer Daten. "), "",
                                  "Die Anwendung erfolgt auf eigene Gefahr.", QStringLiteral("Der Autor haftet  nicht für Schäden, die"),
                                  "durch die Anwendung dieses Programms", "entstehen."}));
    QCOMPARE(memo, (QStringList{QStringLiteral("Für alle Benutzern im Kontext"), "Abi05a.Gym", "wird bei Department die Klasse eingetragen", "",
                                "(Die Anwendung erfolgt auf eigene Gefahr!)"}));
    QCOMPARE(f.fakes.directory->searches.size(), 0);
    QVERIFY(!FZustimmung && !FAusfuehren);
}

void YesNoDialogsTest::contextLikeHtml_shownAsTyped()
{
    FormFixture f(&kClassList);
    const QString context = QStringLiteral("<b>Abi05a</b>.<img src=x>Gym &amp; Co");
    f.form->EdContext->setText(context);
    f.form->ChSub->setChecked(true);
    QStringList memo;
    bool hasMarkup = true;
    BothDialogs dialogs([&](QWidget *w) {
        auto *memo1 = w->findChild<QTextEdit *>(QStringLiteral("Memo1"));
        memo = memo1->toPlainText().split(QLatin1Char('\n'));
        hasMarkup = memo1->toHtml().contains(QStringLiteral("<b>"));
        QTest::keyClick(w, Qt::Key_Escape);
    });
    f.form->buAusfuehren->click();
    QVERIFY(dialogs.confirmation.done());
    QCOMPARE(memo.value(1), context);
    QCOMPARE(memo.value(2), QStringLiteral("und im gesamten Teilbaum"));
    QVERIFY(!hasMarkup);
}

void YesNoDialogsTest::errorBox_plainText()
{
    m_boxes.reset(); // a real box
    Qt::TextFormat format = Qt::RichText;
    QString text, title;
    const modal::Answer box([&](QWidget *w) {
        auto *messageBox = qobject_cast<QMessageBox *>(w);
        format = messageBox->textFormat();
        text = messageBox->text();
        title = messageBox->windowTitle();
        messageBox->accept();
    });
    platform::showErrorBox(QStringLiteral("Objekt <i>Abi05a</i> nicht gefunden"));
    QVERIFY(box.done());
    QCOMPARE(format, Qt::PlainText);
    QCOMPARE(text, QStringLiteral("Objekt <i>Abi05a</i> nicht gefunden."));
    QCOMPARE(title, QCoreApplication::applicationName());
}

void YesNoDialogsTest::textsFitAndEveryControlIsNamed()
{
    TFZustimmung consent(nullptr);
    TFAusfuehren confirmation(nullptr);
    for (QWidget *dialog : {static_cast<QWidget *>(&consent), static_cast<QWidget *>(&confirmation)}) {
        checks::textsFit(dialog);
        checks::accessible(dialog);
    }
    // The notice's eight lines show whole: none wraps, none needs scrolling.
    consent.show();
    QCOMPARE(consent.Memo1->document()->lineCount(), 8);
    QVERIFY(!consent.Memo1->verticalScrollBar()->isVisible());
}

void YesNoDialogsTest::memo_keepsEveryLine_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("an empty first line") << QStringList{QString(), QStringLiteral("Abi05a.Gym")};
    QTest::newRow("only an empty line") << QStringList{QString()};
    QTest::newRow("an empty line between two") << QStringList{QStringLiteral("a"), QString(), QStringLiteral("b")};
    QTest::newRow("two empty lines last") << QStringList{QStringLiteral("a"), QString(), QString()};
}

void YesNoDialogsTest::memo_keepsEveryLine()
{
    QFETCH(QStringList, lines);
    ui::Memo memo(nullptr);
    memo.addLine(QStringLiteral("vom letzten Mal"));
    memo.clearLines();
    for (const QString &line : lines)
        memo.addLine(line);
    QCOMPARE(memo.toPlainText().split(QLatin1Char('\n')), lines);
    QCOMPARE(memo.lineCount(), lines.size());
}

QTEST_MAIN(YesNoDialogsTest)
#include "test_yes_no_dialogs.moc"
