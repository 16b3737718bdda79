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

// The values behind a tuple of references, to be put back with `refs = copy`.
template <class... T> std::tuple<T...> dlgCopyOf(const std::tuple<T&...>& refs)
{
    return refs;
}
