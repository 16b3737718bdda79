#include "gui/dlgfields.h"

#include "gui/xinputs.h"

void dlgShowValue(XEditLine* edit, int maxLength, const QString& value)
{
    edit->setMaxLength(qMax(maxLength, value.length()));
    edit->setText(value);
}
