#pragma once

#include <QString>


// `motionmonitor --calibrate RECORDING [--output FILE] [--gyro-scale S]
// [--rest SECONDS] [--rate HZ]`, on a QCoreApplication of its own (no
// display needed): measures a calibration from the recording (see
// Calibrator), prints the rests it used, each axis's figures, the fit's
// residual and what it could not determine, and writes the calibration file
// to --output, or to calibration.json beside the recording when that does
// not exist yet (an existing one is never replaced without --output).
// Status 0 when something was measured (and any file written), 1 when
// nothing was, the recording is refused or the file cannot be written, 2 on
// a usage error.
int runCalibrate(int argc, char **argv, const QString &version);
