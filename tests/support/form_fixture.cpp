#include "support/form_fixture.h"

#include "ui/log_list.h"

QStringList FormFixture::log() const
{
    QStringList lines;
    for (int i = 0; i < form->ListBox1->count(); ++i)
        lines.append(form->ListBox1->line(i));
    return lines;
}
