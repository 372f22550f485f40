#include "support/form_fixture.h"

#include <QListWidget>

QStringList FormFixture::log() const
{
    QStringList lines;
    for (int i = 0; i < form->ListBox1->count(); ++i)
        lines.append(form->ListBox1->item(i)->text());
    return lines;
}
