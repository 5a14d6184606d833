#include "outputhealth.h"

QString OutputHealth::down(const QString &why)
{
    if (why == cause)
        return {};
    if (cause.isEmpty())
        droppedBefore = dropped;
    cause = why;
    return QStringLiteral("%1: down (%2); messages are dropped until it is back").arg(name, why);
}

QString OutputHealth::up()
{
    if (cause.isEmpty())
        return {};
    cause.clear();
    return QStringLiteral("%1: back; %2 messages were dropped while it was down")
        .arg(name)
        .arg(dropped - droppedBefore);
}

QString OutputHealth::text(const QString &name, bool up, long long drops)
{
    const QString state = up ? QStringLiteral("up") : QStringLiteral("down");
    return drops ? QStringLiteral("%1: %2, %3 dropped").arg(name, state).arg(drops)
                 : QStringLiteral("%1: %2").arg(name, state);
}
