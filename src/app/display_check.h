#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

struct xcb_connection_t;

// Whether the window can open here. Asked before the application object is
// made, since Qt ends a program whose platform finds no display with its own
// English text and an abort. `arguments` are the program's, Qt's own options
// (-platform, -display) still among them.
class DisplayCheck {
public:
    DisplayCheck(const QStringList &arguments, const QProcessEnvironment &environment);
    // Closes the test connection: keep the check until Qt has made its own, since
    // an X server may turn away a connection made just as another one closes.
    ~DisplayCheck();
    Q_DISABLE_COPY_MOVE(DisplayCheck)

    // Why the window cannot open, in German; empty when it can, or when only
    // the platform itself can tell (offscreen, vnc, ...).
    [[nodiscard]] const QString &problem() const { return m_problem; }

private:
    QString platformProblem(const QString &platform, const QStringList &arguments, const QProcessEnvironment &environment);
    QString x11Problem(const QString &display);

    QString m_problem;
    xcb_connection_t *m_x11 = nullptr;
};
