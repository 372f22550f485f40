#pragma once

#include "directory/client.h"
#include "directory/embedded/ldif_tree.h"
#include "nwcontrols/register_controls.h"
#include "support/ldif_fixture.h"
#include "ui/Klassomat_U.h"
#include "ui/log_list.h"

#include <QTemporaryDir>

#include <memory>

// A main window over an embedded tree (the fixture's school unless told
// otherwise), with a class list beside it; `config` may attach more trees.
struct LiveWindow {
    QTemporaryDir dir;
    std::unique_ptr<directory::Client> client;
    std::unique_ptr<TForm1> form;

    explicit LiveWindow(const QByteArray &classList, const QByteArray &tree = fixture::kSchool,
                        const QByteArray &config = "[SCHULE]\nldif=a.ldif\n")
    {
        fixture::write(dir, tree, QStringLiteral("a.ldif"));
        fixture::write(dir, config, QStringLiteral("c.ini"));
        fixture::write(dir, classList, QStringLiteral("Klassen.txt"));
        qputenv("DIRCLIENT_CONFIG", dir.filePath(QStringLiteral("c.ini")).toUtf8());
        client = std::make_unique<directory::Client>();
        nwcontrols::registerControls(*client);
        form = std::make_unique<TForm1>(dir.path());
        form->show();
    }
    ~LiveWindow() { qunsetenv("DIRCLIENT_CONFIG"); }

    [[nodiscard]] directory::LdifTree &tree()
    {
        return static_cast<directory::LdifTree &>(client->tree(QStringLiteral("SCHULE")));
    }
    QStringList ou(const QString &path) { return tree().values(QStringLiteral("NDS:\\\\SCHULE\\") + path, QStringLiteral("ou")); }
    [[nodiscard]] QStringList log() const
    {
        QStringList lines;
        for (int i = 0; i < form->ListBox1->count(); ++i)
            lines.append(form->ListBox1->line(i));
        return lines;
    }
    [[nodiscard]] QString lastLogLine() const { return form->ListBox1->line(form->ListBox1->count() - 1); }
};
