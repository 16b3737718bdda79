#include "config/dlgfields.h"

#include "widgets/xinputs.h"

void dlgShowValue(XEditLine* edit, int maxLength, const QString& value)
{
    edit->setMaxLength(qMax(maxLength, value.length()));
    edit->setText(value);
}
