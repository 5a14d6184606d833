#pragma once

#include "acquisition.h"
#include "optionset.h"
#include "outputsettings.h"

class QCommandLineParser;

// What `motionmonitor --record` is told on its command line: the option set
// of the options dialog, with the dialog's defaults, the read interval and
// how long to record, and the live outputs. The options read alike with
// nodesim's.
struct RecorderOptions {
    OptionSet options;
    int intervalMs = Acquisition::defaultIntervalMs;
    qint64 durationMs = -1; // -1: until stopped
    OutputSettings outputs;

    static void addTo(QCommandLineParser &parser);
    // The options given, checked before anything is opened: values in their
    // ranges, a frame format that holds its slots, a log directory that
    // exists and can be written, the outputs' destinations resolved and
    // their files read. False with *error, one line naming the option and
    // the reason.
    static bool read(const QCommandLineParser &parser, RecorderOptions *given, QString *error);
};
