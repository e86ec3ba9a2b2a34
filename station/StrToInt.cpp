#include "station/StrToInt.h"

#include "platform/ResStrings.h"

int StrToInt(const QString& text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok) {
        throw EConvertError(zv::LoadResString(zv::SInvalidInteger).arg(text));
    }
    return value;
}
