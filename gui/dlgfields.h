#pragma once

#include <QString>

#include <tuple>

class QWidget;
class XEditLine;

// Shows a stored value in an edit limited to maxLength characters. A longer
// value, written into settings.ini by hand, raises the limit to its length so
// that opening a settings dialog and pressing OK never cuts it short.
void dlgShowValue(XEditLine* edit, int maxLength, const QString& value);

// Writes theSetting to settings.ini. When that fails the operator is told why
// over the dialog, and the caller puts back what it changed in memory and
// stays open, so that memory never holds settings the file lost: saving again
// tries again, cancel leaves everything as it was.
bool dlgSaveSettings(QWidget* dialog);

// Puts the wanted values into theSetting's fields (references from std::tie)
// and saves them, unless they are there already. When the save fails the
// fields get their old values back and false is returned: the dialog stays open.
template <class... T, class... V>
bool dlgApply(QWidget* dialog, std::tuple<T&...> fields, const std::tuple<V...>& wanted)
{
    if (fields == wanted) {
        return true;
    }
    const std::tuple<T...> before = fields;
    fields = wanted;
    if (dlgSaveSettings(dialog)) {
        return true;
    }
    fields = before;
    return false;
}
