#include "gui/xfonts.h"

#include <QDebug>
#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>

namespace {

QString heiti()
{
    return QStringLiteral("黑体");
}

} // namespace

void xInstallFonts()
{
#ifndef Q_OS_WIN
    const QString family = QStringLiteral("WenQuanYi Zen Hei");
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const QStringList families = QFontDatabase::families();
#else
    const QStringList families = QFontDatabase().families();
#endif
    if (!families.contains(family)) {
        qWarning() << "font family" << family << "is not installed; Chinese texts may be clipped";
    }
    QFont::insertSubstitution(heiti(), family);
#endif
}

QString xTextFont()
{
    return QStringLiteral("18px \"") + heiti() + QStringLiteral("\"");
}

QString xTableFont()
{
    return QStringLiteral("16px \"") + heiti() + QStringLiteral("\"");
}

QString xResolvedHeiti()
{
    QFont font(heiti());
    return QFontInfo(font).family();
}
