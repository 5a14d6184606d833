#pragma once

#include <QString>

class Calibration;
class QCustomPlot;
class QFont;
struct Spectrum;

// One sensor's spectrum on a QCustomPlot: a curve of density over frequency
// for each of its three axes, in the colours and names of the time plots,
// under a title that says the rate, the frequency step, the segments, what
// was left out and each curve's peak frequency. Logarithmic axes by default
// (0 Hz and densities of 0 are then not drawn), linear on request; drag and
// wheel zoom as on the time plots.
class SpectrumPlot
{
public:
    // Sets `plot` up for `sensor` (sensor::accelerometer or
    // sensor::gyroscope), whose columns start at `firstColumn` of a
    // Recording.
    SpectrumPlot(QCustomPlot *plot, int sensor, int firstColumn, const QFont &font);

    // Shows the spectrum's curves of this sensor, fitted to the plot, with
    // axis labels in the calibration's units; an empty spectrum clears the
    // curves and says why in the title. Does not redraw.
    void show(const Spectrum &spectrum, const Calibration &calibration);
    void setLogarithmic(bool on);
    bool logarithmic() const { return log; }
    QCustomPlot *plot() const { return target; }

    // The title's first line: rate, step, segments, what was left out.
    static QString describe(const Spectrum &spectrum);

private:
    void fit();

    QCustomPlot *target;
    int sensor, firstColumn;
    bool log = true;
};
