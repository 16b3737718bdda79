#pragma once

#include <QString>

class XEditLine;

// Shows a stored value in an edit limited to maxLength characters. A longer
// value, written into settings.ini by hand, raises the limit to its length so
// that opening a settings dialog and pressing OK never cuts it short.
void dlgShowValue(XEditLine* edit, int maxLength, const QString& value);
