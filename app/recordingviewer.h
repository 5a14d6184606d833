#pragma once

#include "calibration.h"
#include "frameformat.h"
#include "spectrum.h"

#include <QMainWindow>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class ColumnStatistics;
class Pacer;
class QCustomPlot;
class QLabel;
class Recording;
class RecordingCurve;
class RowKeys;
class SpectrumPlot;
class Ui_RecordingViewer;

// A window that shows one recording as the live plots showed it: the
// accelerometer's three curves above, the gyroscope's below. A session is
// shown on a time axis in seconds from its start, its curves broken where
// no rows came, its events (log files, the receiver lost and reopened,
// source and logging switches) marked as dashed lines, its notes as solid
// lines with their text and listed beside the plots (a click on one moves
// the view there, beside the statistics); a log file read on its own keys
// each row by its position in the file. The title says what the recording
// is.
//
// Drag and wheel zoom move a plot's axes, and the two plots' key axes move
// together; a double-click fits both plots to the whole recording again.
// Under the plots, each curve's minimum, maximum, mean, RMS and standard
// deviation over the rows in view, updated as the view moves. "File" >
// "Save image…" writes the plots as they show, under the title.
//
// "View" shows the time plots, the spectrum of the rows in view (see
// Spectrum; one plot per sensor, redrawn as the view moves, at most 25 times
// a second), or both side by side; the spectrum's segment length is chosen
// above it, and for a log file on its own the rate (none by default: cycles
// per row; a button offers the line's pace). A calibration (the session's,
// or one applied with "File" > "Apply calibration…") turns the curves, the
// value axes, the statistics and the spectrum into its units.
class RecordingViewer : public QMainWindow
{
    Q_OBJECT
public:
    enum class Shown { TimePlots, Spectrum, Both };

    // Opens what Recording::open() reads at path in a new window, not yet
    // shown, fitted to the recording. A file it refuses gives no window:
    // nullptr, and *error says why. `linePace` is the rate the window offers
    // for a log file on its own (rows per second; by default the default
    // frame format's).
    static RecordingViewer *open(const QString &path, QWidget *parent, QString *error,
                                 double linePace = FrameFormat().linePace());
    // A window on `recording`, read from `path`.
    RecordingViewer(const QString &path, std::unique_ptr<Recording> recording, QWidget *parent,
                    double linePace = FrameFormat().linePace());
    ~RecordingViewer() override;

    const Recording &recording() const { return *shown; }
    // What the recording is: the file and its rows; for a session its start
    // with the UTC offset, duration, rows and files.
    QString title() const;
    // Writes the plots shown, as they show, under the title, at their size in
    // the window, also while the window is hidden (see savePlotImage).
    bool saveImage(const QString &fileName, QString *error);

    void setShown(Shown what);
    // The key range in view (seconds of a session, rows of a log file).
    void setView(double from, double to);
    // A log file's rows per second (0: none, cycles per row); a session's
    // own rate is used regardless.
    void setRate(double rowsPerSecond);
    // Rows in a segment: a power of two from Welch::shortest to
    // Welch::longest, or 0 for the default.
    void setSegmentLength(int rows);
    // Shows every value in the calibration's units from now on.
    void applyCalibration(const Calibration &calibration);
    // The spectrum of the rows in view, as last drawn (computed now when a
    // change waits).
    const Spectrum &spectrum();
    // The spectrum as CSV (see Spectrum::writeCsv).
    bool writeSpectrumCsv(const QString &fileName, QString *error);
    // The rows as CSV in the calibration's units (see Recording::writeCsv).
    bool writeCsv(const QString &fileName, QString *error) const;

private:
    void markEvents();
    // Marks and lists the notes; the list is hidden when there are none.
    void showNotes();
    void fitToRecording();
    void showStatistics();
    void showSpectrum();
    void labelValueAxes();
    void chooseCalibration();

    QString path;
    std::unique_ptr<Recording> shown;
    std::unique_ptr<RowKeys> keys;
    std::vector<std::unique_ptr<ColumnStatistics>> statistics;
    std::vector<RecordingCurve *> curves;
    std::unique_ptr<SpectrumPlot> spectrumPlots[2];
    Spectrum inView;
    Pacer *spectrumPacer;
    Calibration calibration;
    QLabel *rowsInView;
    Ui_RecordingViewer *ui;
};

// What --view is asked to do besides showing the recording.
struct ViewRequest {
    // Write the plots (.png, .jpg or .pdf) or the rows (.csv) there instead.
    QString exportFile;
    bool spectrum = false;          // the spectrum alone: its plots, or its CSV
    std::optional<double> from, to; // the key range in view
    QString calibrationFile;
    double rate = 0;                            // a log file's rows per second
    int segment = 0;                            // rows per segment; 0: the default
    double linePace = FrameFormat().linePace(); // offered for a log file
    bool notes = false; // with a .csv exportFile: the session's notes instead of its rows
};

// The program's --view mode: shows the recording at path (see
// Recording::open) and runs the event loop until its window closes; with an
// exportFile, writes it there instead and returns without showing a window:
// the plots shown as an image (.png, .jpg or .pdf), or the rows (the
// spectrum with `spectrum`, a session's notes with `notes`: none for a log
// file on its own, status 1) as CSV (.csv). Status 0, or 1 with the reason on
// the standard error stream (and in a message box when a window was to be
// shown). What was left out of a file cut short is said on the standard
// error stream too.
int viewRecording(const QString &path, const ViewRequest &request);
