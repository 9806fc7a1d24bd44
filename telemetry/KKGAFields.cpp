#include "telemetry/KKGAFields.h"

QString KKGAFields::customDimensionForIndex(quint64 index)
{
    return QStringLiteral("cd") + QString::number(index);
}

QString KKGAFields::customMetricForIndex(quint64 index)
{
    return QStringLiteral("cm") + QString::number(index);
}
