#pragma once

#include <QString>

class QCPAbstractPlottable;
class QCustomPlot;
class QFont;

// The look that the live plots and the recording viewer share, so a
// recording looks as it did while it was recorded.
namespace plotlook
{

// Sets plot up for one sensor's three curves (`sensor` is a sensor type code,
// sensor::accelerometer or sensor::gyroscope): a title row above the axes, a
// full axes box, "Time" and "Magnitude" labels, dotted black grid lines, the
// background colour, a legend in `font` at point size 10 whose entries can be
// selected, drag and wheel zoom on both axes, and the sensor's initial value
// range (time 0 to 100). Call before adding curves.
void setUp(QCustomPlot *plot, int sensor, const QString &title, const QFont &font);
// Gives curve `axis` (0 X, 1 Y, 2 Z) of the sensor's plot its colour (blue,
// green, red) and its name ("Acc_Xaxis" ... "Gyro_Zaxis").
void styleCurve(QCPAbstractPlottable *curve, int sensor, int axis);
// The text of the title row.
void setTitle(QCustomPlot *plot, const QString &title);
// Sets the value axis to the values the curves take within the key axis's
// range, with a small margin above and below so no curve runs along the axes
// box (at least half a unit each side). Leaves it when no point is in view.
void fitValueAxisToView(QCustomPlot *plot);

} // namespace plotlook
