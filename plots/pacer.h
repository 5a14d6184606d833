#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

// Runs an action for what the user sees (a redraw, a display refresh) no
// more often than can be seen, yet soon: a request runs the action once the
// current event is handled and at least `gap` milliseconds after its last
// run, however many requests came meanwhile.
class Pacer : public QObject
{
public:
    Pacer(std::function<double()> gap, std::function<void()> action, QObject *parent);
    void request();
    // Runs the action now (and drops a run that was waiting).
    void runNow();

private:
    QTimer timer;
    QElapsedTimer sinceRun;
    std::function<double()> gap;
    std::function<void()> action;
};
