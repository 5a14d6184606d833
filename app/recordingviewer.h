#pragma once

#include <QMainWindow>
#include <QString>

#include <memory>
#include <vector>

class ColumnStatistics;
class QCustomPlot;
class QLabel;
class Recording;
class RowKeys;
class Ui_RecordingViewer;

// A window that shows one recording as the live plots showed it: the
// accelerometer's three curves above, the gyroscope's below. A session is
// shown on a time axis in seconds from its start, its curves broken where
// no rows came, its events (log files, the receiver lost and reopened,
// source and logging switches) marked as dashed lines; a log file read on
// its own keys each row by its position in the file. The title says what
// the recording is.
//
// Drag and wheel zoom move a plot's axes, and the two plots' key axes move
// together; a double-click fits both plots to the whole recording again.
// Under the plots, each curve's minimum, maximum, mean, RMS and standard
// deviation over the rows in view, updated as the view moves. "File" >
// "Save image…" writes both plots as they show, under the title.
class RecordingViewer : public QMainWindow
{
    Q_OBJECT
public:
    // Opens what Recording::open() reads at path in a new window, not yet
    // shown, fitted to the recording. A file it refuses gives no window:
    // nullptr, and *error says why.
    static RecordingViewer *open(const QString &path, QWidget *parent, QString *error);
    // A window on `recording`, read from `path`.
    RecordingViewer(const QString &path, std::unique_ptr<Recording> recording, QWidget *parent);
    ~RecordingViewer() override;

    const Recording &recording() const { return *shown; }
    // What the recording is: the file and its rows; for a session its start
    // with the UTC offset, duration, rows and files.
    QString title() const;
    // Writes both plots as they show, under the title, at their size in the
    // window, also while the window is hidden (see savePlotImage).
    bool saveImage(const QString &fileName, QString *error);

private:
    void markEvents();
    void fitToRecording();
    void showStatistics();

    QString path;
    std::unique_ptr<Recording> shown;
    std::unique_ptr<RowKeys> keys;
    std::vector<std::unique_ptr<ColumnStatistics>> statistics;
    QLabel *inView;
    Ui_RecordingViewer *ui;
};

// The program's --view mode: shows the recording at path (see
// Recording::open) and runs the event loop until its window closes; with an
// exportFile, writes it there instead and returns without showing a window:
// the plots as an image (.png, .jpg or .pdf) or the rows as CSV (.csv).
// Status 0, or 1 with the reason on the standard error stream (and in a
// message box when a window was to be shown). What was left out of a file
// cut short is said on the standard error stream too.
int viewRecording(const QString &path, const QString &exportFile);
