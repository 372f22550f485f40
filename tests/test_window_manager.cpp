// The windows under a real window manager (run by tools/with_window_manager.sh):
// each title bar reads exactly the window's own title, and the frames of the
// main window, the tree choice and the container browser sit centred.
#include "support/form_fixture.h"
#include "support/modal.h"
#include "support/window_test.h"
#include "ndk/treeSelect_u.h"
#include "ui/HaftungsZustimmung.h"
#include "ui/KlassomatAusfuehren.h"
#include "ui/OUBrowser_U.h"
#include "ui/picture_button.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <QtTest>

namespace {

// The title the window manager shows: _NET_WM_NAME as xprop reads it.
QString netWmName(QWidget *window)
{
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window->winId()), QStringLiteral("_NET_WM_NAME")});
    if (!xprop.waitForFinished(5000))
        return QStringLiteral("(xprop failed)");
    const QString out = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
    return out.section(QLatin1String(" = \""), 1).chopped(1);
}

// Waits until the window manager has framed the window and the frame has come
// to rest, then checks that the frame's centre is the screen's (to a pixel).
void checkFrameCentred(QWidget *window)
{
    QTRY_VERIFY(window->windowHandle() && !window->windowHandle()->frameMargins().isNull());
    const QPoint centre = window->screen()->availableGeometry().center();
    QTRY_VERIFY2((window->frameGeometry().center() - centre).manhattanLength() <= 1,
                 qPrintable(QStringLiteral("%1: frame centre (%2, %3), screen centre (%4, %5)")
                                .arg(window->windowTitle())
                                .arg(window->frameGeometry().center().x()).arg(window->frameGeometry().center().y())
                                .arg(centre.x()).arg(centre.y())));
}

// The output of xprop for one property of a window, or empty.
QString xprop(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("xprop"), arguments);
    return process.waitForFinished(5000) ? QString::fromUtf8(process.readAllStandardOutput()).trimmed() : QString();
}

// The id of the top-level window titled `title`, or empty.
QString windowTitled(const QString &title)
{
    QProcess process;
    process.start(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    if (!process.waitForFinished(5000))
        return {};
    for (const QString &line : QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        if (line.contains(QLatin1Char('"') + title + QLatin1Char('"')))
            return line.trimmed().section(QLatin1Char(' '), 0, 0);
    }
    return {};
}

} // namespace

class WindowManagerTest : public WindowTest {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void treeChoiceAndMainWindow_exactTitlesCentredFrames();
    void browser_exactTitleCentredFrame();
    void yesNoDialogs_exactTitles();
    void program_wmClassIsTheDesktopEntrysName();
};

void WindowManagerTest::initTestCase()
{
    WindowTest::initTestCase();
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "run me through tests/tools/with_window_manager.sh");
}

void WindowManagerTest::treeChoiceAndMainWindow_exactTitlesCentredFrames()
{
    QString choiceTitle;
    const modal::Answer choice([&](QWidget *w) {
        checkFrameCentred(w);
        choiceTitle = netWmName(w);
        static_cast<TTreeSelect *>(w)->Button1->click();
    });
    FormFixture f(nullptr, {QStringLiteral("NDS:\\\\A"), QStringLiteral("NDS:\\\\B"), QStringLiteral("NDS:\\\\C")});
    QVERIFY(choice.done());
    QCOMPARE(choiceTitle, QStringLiteral("Treeauswahl"));

    f.form->show();
    checkFrameCentred(f.form.get());
    QCOMPARE(netWmName(f.form.get()), QStringLiteral("klassomat - Klassenbezeichnung eintragen   19.02.03/Qu."));
}

void WindowManagerTest::browser_exactTitleCentredFrame()
{
    FormFixture f;
    f.form->show();
    QString title;
    const modal::Answer browser([&](QWidget *w) {
        checkFrameCentred(w);
        title = netWmName(w);
        static_cast<TouBrowser *>(w)->reject();
    });
    f.form->BuContext->click();
    QVERIFY(browser.done());
    QCOMPARE(title, QStringLiteral("Startkontext wählen"));
}

void WindowManagerTest::yesNoDialogs_exactTitles()
{
    FormFixture f;
    f.form->show();
    f.form->EdContext->setText(QStringLiteral("Gym"));
    QString consentTitle, confirmationTitle;
    modal::Answer confirmation;
    const modal::Answer consent([&](QWidget *w) {
        QTRY_VERIFY(!w->windowHandle()->frameMargins().isNull());
        consentTitle = netWmName(w);
        confirmation = modal::Answer([&](QWidget *w2) {
            QTRY_VERIFY(!w2->windowHandle()->frameMargins().isNull());
            confirmationTitle = netWmName(w2);
            w2->findChild<QPushButton *>(QStringLiteral("CancelBtn"))->click();
        });
        w->findChild<QPushButton *>(QStringLiteral("OKBtn"))->click();
    });
    f.form->buAusfuehren->click();
    QVERIFY(consent.done() && confirmation.done());
    QCOMPARE(consentTitle, QStringLiteral("Rechtliche Bedingungen"));
    QCOMPARE(confirmationTitle, QStringLiteral("Dialog"));
}

void WindowManagerTest::program_wmClassIsTheDesktopEntrysName()
{
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
    env.remove(QStringLiteral("DIRCLIENT_CONFIG"));
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(KLASSOMAT_EXECUTABLE), QStringList());
    const auto stop = qScopeGuard([&program] {
        program.kill();
        program.waitForFinished(5000);
    });
    QString id;
    QTRY_VERIFY_WITH_TIMEOUT(!(id = windowTitled(QStringLiteral("klassomat - Klassenbezeichnung eintragen   19.02.03/Qu."))).isEmpty(), 30000);
    const QString entry = QFileInfo(QStringLiteral(KLASSOMAT_DESKTOP_ENTRY)).completeBaseName();
    QCOMPARE(xprop({QStringLiteral("-id"), id, QStringLiteral("WM_CLASS")}),
             QStringLiteral("WM_CLASS(STRING) = \"%1\", \"%1\"").arg(entry));
}

QTEST_MAIN(WindowManagerTest)
#include "test_window_manager.moc"
