#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <vector>

// When each row of a session came, and what happened on the way, as the
// session file tells it (docs/session-format.md).
//
// A row's time comes from the lines of the session file, each of which says
// how many rows had been logged by its time: the first row is at the first
// line's time (the start), and the rows logged between two lines are spread
// evenly over the time between them, the last of them at the later line's
// time. Rows that came faster than one and a half times the session's usual
// pace (the median over stretches of 0.2 s or more) had waited to be read
// (while the program was busy, as with the init message after a reconnect):
// they are spread back over the time they needed at that pace, though never
// before a line after which they came (the receiver reopened, logging on
// again, the source switched) nor before the start. Only these points are
// held (about two a second), not a time per row.
class Timeline
{
public:
    // `rows` rows had been logged `ms` milliseconds after the start; with
    // `floor`, the rows after them came after that moment.
    struct Anchor {
        std::int64_t rows;
        std::int64_t ms;
        bool floor = false;
    };
    // Something to mark on the time axis.
    struct Event {
        enum Kind { File, Link, Source, Logging };
        double seconds;
        Kind kind;
        QString label;
    };
    // A note of the user: its moment and its text (empty for none).
    struct Note {
        double seconds;
        QString text;
    };
    // What the session file's first and last lines tell.
    struct Facts {
        QDateTime start; // with its UTC offset
        QString program, host, device, source;
        int intervalMs = 0;
        QJsonObject options;
        // The log directory's calibration when the session began (empty: none).
        QJsonObject calibration;
        double seconds = 0; // the duration
        int files = 0;
    };

    Timeline() = default;
    // `anchors` in the order written (neither rows nor ms falls), the first
    // at 0 rows; `rows` is how many rows are held (at most the last
    // anchor's). With `paced`, rows that came too fast are spread back as
    // said above; without, the anchors are the arrivals of their last rows
    // and the rows between two are spread evenly between them.
    Timeline(const std::vector<Anchor> &anchors, std::int64_t rows, bool paced = true);

    std::int64_t rows() const { return count; }
    // The time of row `row` (0 .. rows() - 1) in seconds from the start.
    double seconds(std::int64_t row) const;
    // The first row whose time is at or after `seconds`; rows() when none is.
    std::int64_t firstRowFrom(double seconds) const;

    // The rows before which the curves break (the receiver lost, logging off
    // or failing), rising, each within 1 .. rows() - 1.
    std::vector<std::int64_t> breaks;
    std::vector<Event> events; // in time order
    std::vector<Note> notes;   // in time order (their lines are in the order they were finished)
    Facts facts;

private:
    // Row `row` is at `in` seconds; the rows after it are spread from `out`,
    // not before `floor`.
    struct Knot {
        std::int64_t row;
        double in, out, floor;
    };
    // Spreads rows that came too fast back in time.
    void pace();
    // The time of a row between the knots a and a + 1.
    static double between(const Knot &a, const Knot &b, std::int64_t row);
    std::vector<Knot> knots; // rows rising
    std::int64_t count = 0;
};
