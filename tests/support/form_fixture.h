#pragma once

#include "support/fakes.h"
#include "ui/Klassomat_U.h"

#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>

#include <memory>

// A main window over fake controls, with an optional Klassen.txt beside it.
struct FormFixture {
    QTemporaryDir folder;
    fakes::Installed fakes;
    std::unique_ptr<TForm1> form;

    explicit FormFixture(const QByteArray *classList = nullptr, const QStringList &trees = {QStringLiteral("NDS:\\\\TREE")})
        : fakes(fakes::install(trees))
    {
        if (classList) {
            QFile file(folder.filePath(QStringLiteral("Klassen.txt")));
            file.open(QIODevice::WriteOnly);
            file.write(*classList);
        }
        form = std::make_unique<TForm1>(folder.path());
    }

    // Starts a run as the Execute button's start path does after both dialogs.
    void run()
    {
        form->EdContext->setText(QStringLiteral("Abi05a.Gym")); // a chosen context enables the button
        form->SetRunButtonFace(form->FGlyphCancel);
        form->RunAssignment();
    }

    [[nodiscard]] QStringList log() const;
};
