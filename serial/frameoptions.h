#pragma once

#include "frameformat.h"

#include <QString>

class QCommandLineParser;

// The frame format on a command line, alike for every program that takes
// one: --data-bytes N (0-99), --start1, --start2, --end1, --end2 (0-255 or
// off) and --slot1, --slot2 (gyro, acc or off), each defaulting to
// FrameFormat's own value, or to the format a program starts from.
namespace frameoptions
{

void add(QCommandLineParser &parser);
// The format given: *format with the options given set in it (pass a
// FrameFormat() for the defaults); left alone when false, with *error
// naming the option and the values it takes.
bool read(const QCommandLineParser &parser, FrameFormat *format, QString *error);

// The whole number given to --name, within low..high; *value is left alone
// when the option is not given. False with *error saying what it takes.
bool number(const QCommandLineParser &parser, const QString &name, long long low, long long high,
            long long *value, QString *error);

} // namespace frameoptions
