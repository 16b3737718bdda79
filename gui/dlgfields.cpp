#include "gui/dlgfields.h"

#include "core/mysetting.h"
#include "gui/xfactory.h"
#include "gui/xinputs.h"

void dlgShowValue(XEditLine* edit, int maxLength, const QString& value)
{
    edit->setMaxLength(qMax(maxLength, value.length()));
    edit->setText(value);
}

bool dlgSaveSettings(QWidget* dialog)
{
    if (theSetting.saveIni()) {
        return true;
    }
    xShowMessage(
        QStringLiteral("错误提示"),
        QStringLiteral("设置未能保存：%1。\n\n修改没有生效；排除问题后请再试一次，或按取消放弃修改。")
            .arg(theSetting.saveError()),
        dialog);
    return false;
}
