#pragma once

#include <QString>

// The state of one output as its user hears of it: up, or down for a cause,
// and the messages it dropped. Each change is said once: a failure once per
// cause (a failure that keeps coming is not repeated), the return once.
class OutputHealth
{
public:
    explicit OutputHealth(const QString &name) : name(name) {}

    // Down for `cause`: the line to say, empty when this cause is said
    // already.
    QString down(const QString &cause);
    // Up again: the line to say, empty when it was not down.
    QString up();
    void drop(long long messages = 1) { dropped += messages; }
    bool isUp() const { return cause.isEmpty(); }
    long long drops() const { return dropped; }
    // "mqtt: up", "mqtt: down, 120 dropped" (the drops since it was opened).
    QString text() const { return text(name, isUp(), dropped); }
    static QString text(const QString &name, bool up, long long drops);

private:
    QString name;
    QString cause; // empty while up
    long long dropped = 0;
    long long droppedBefore = 0; // when it went down
};
