#include "station/StationVersion.h"

QString ApplicationTitle()
{
    return QStringLiteral("Varek R\u00e1dio Zoveva");
}
