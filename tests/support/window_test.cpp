#include "support/window_test.h"

#include "ui/picture_button.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QtTest>

void WindowTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void WindowTest::init()
{
    m_boxes.emplace();
}

void WindowTest::cleanup()
{
    m_boxes.reset();
    qunsetenv("DIRCLIENT_CONFIG");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!QApplication::activeModalWidget());
    const QWidgetList leaked = QApplication::topLevelWidgets();
    QVERIFY2(leaked.isEmpty(), qPrintable(QStringLiteral("window left over: %1").arg(leaked.value(0) ? leaked.value(0)->objectName() : QString())));
}

namespace checks {

void textsFit(QWidget *window)
{
    for (auto *button : window->findChildren<QAbstractButton *>()) {
        if (button->text().isEmpty() || qobject_cast<ui::PictureButton *>(button))
            continue;
        const int needed = qobject_cast<QPushButton *>(button) ? button->fontMetrics().horizontalAdvance(button->text()) + 8
                                                               : button->sizeHint().width();
        QVERIFY2(needed <= button->width(), qPrintable(QStringLiteral("%1: %2 > %3").arg(button->text()).arg(needed).arg(button->width())));
    }
    for (auto *label : window->findChildren<QLabel *>()) {
        if (!label->wordWrap())
            QVERIFY2(label->sizeHint().width() <= label->width(), qPrintable(label->text()));
        QVERIFY2(window->rect().contains(label->geometry()) || label->parentWidget() != window, qPrintable(label->text()));
    }
}

void accessible(QWidget *window)
{
    const auto reachable = [](QWidget *w) {
        return qobject_cast<QAbstractButton *>(w) || qobject_cast<QLineEdit *>(w) || qobject_cast<QComboBox *>(w)
               || qobject_cast<QTextEdit *>(w) || qobject_cast<QAbstractItemView *>(w) || qobject_cast<QGroupBox *>(w);
    };
    for (QWidget *w : window->findChildren<QWidget *>()) {
        // Parts of another control (a combo box's editor, a view's header) and
        // popups (a combo box's list, a window of its own) have names of their own making.
        if (!reachable(w) || w->window() != window || qobject_cast<QAbstractItemView *>(w->parentWidget())
            || qobject_cast<QComboBox *>(w->parentWidget()))
            continue;
        QAccessibleInterface *face = QAccessible::queryAccessibleInterface(w);
        QVERIFY(face);
        QVERIFY2(!face->text(QAccessible::Name).isEmpty(), qPrintable(w->objectName() + QStringLiteral(" has no accessible name")));
        const bool showsText = qobject_cast<QAbstractButton *>(w) && !static_cast<QAbstractButton *>(w)->text().isEmpty();
        if (!showsText)
            QVERIFY2(!w->accessibleDescription().isEmpty(), qPrintable(w->objectName() + QStringLiteral(" has no description")));
    }
}

} // namespace checks
