#include "gui/xstyle.h"

#include <QtGlobal>

bool XStyle::store(QString (&values)[StateCount], const QString& value, int state, bool apply)
{
    if (state < 0 || state >= StateCount) {
        return false;
    }
    values[state] = value;
    if (apply) {
        applyStyle();
    }
    return true;
}

bool XStyle::setXsBackground(const QString& value, const int& state, const bool& apply)
{
    return store(xsBackground, value, state, apply);
}

bool XStyle::setXsBorder(const QString& value, const int& state, const bool& apply)
{
    return store(xsBorder, value, state, apply);
}

bool XStyle::setXsColor(const QString& value, const int& state, const bool& apply)
{
    return store(xsColor, value, state, apply);
}

bool XStyle::setXsFont(const QString& value, const int& state, const bool& apply)
{
    return store(xsFont, value, state, apply);
}

QString XStyle::xsLine(const char* name, const QString& value)
{
    if (value.isEmpty()) {
        return QString();
    }
    return QLatin1String(name) + QStringLiteral(": ") + value + QStringLiteral(";\n");
}

QString XStyle::styleRule(int state) const
{
    if (state < 0 || state >= StateCount) {
        return QString();
    }
    return xsLine("border-radius", xsBorderRadius[state]) + xsLine("border-image", xsBorderImage[state]) +
           xsLine("border", xsBorder[state]) + xsLine("background", xsBackground[state]) +
           xsLine("color", xsColor[state]) + xsLine("text-align", xsTextAlign[state]) +
           xsLine("font", xsFont[state]);
}

QString XStyle::xsRule(const QString& selector, const QString& block)
{
    const QString open = selector.isEmpty() ? QStringLiteral("{\n") : QStringLiteral(" {\n");
    return selector + open + block + QStringLiteral("}\n");
}

QString XStyle::xsObjectName() const
{
    // The full address keeps the name unique on 64-bit systems as well.
    return QStringLiteral("XS_%1").arg(quintptr(this), 8, 16, QLatin1Char('0')).toUpper();
}
