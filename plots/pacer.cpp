#include "pacer.h"

#include <algorithm>

Pacer::Pacer(std::function<double()> gap, std::function<void()> action, QObject *parent)
    : QObject(parent), gap(std::move(gap)), action(std::move(action))
{
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &Pacer::runNow);
}

void Pacer::request()
{
    if (!timer.isActive())
        timer.start(sinceRun.isValid() ? std::max(0, int(gap() - sinceRun.elapsed())) : 0);
}

void Pacer::runNow()
{
    timer.stop();
    sinceRun.start();
    action();
}
