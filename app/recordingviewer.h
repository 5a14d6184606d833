#pragma once

#include <QMainWindow>
#include <QString>

#include <memory>

class QCustomPlot;
class Recording;
class Ui_RecordingViewer;

// A window that shows one recording as the live plots showed it: the
// accelerometer's three curves above, the gyroscope's below, each row at
// the key of its position in the file. Drag and wheel zoom move both axes
// of a plot; a double-click fits the plot to the whole recording again.
// "File" > "Save image…" writes both plots as they show.
class RecordingViewer : public QMainWindow
{
    Q_OBJECT
public:
    // Reads the log file at path into a new window, not yet shown, fitted to
    // the recording and titled with the file's name and row count. A file
    // the reader refuses gives no window: nullptr, and *error names the
    // file, the line and what is wrong.
    static RecordingViewer *open(const QString &path, QWidget *parent, QString *error);
    ~RecordingViewer() override;

    // Writes both plots as they show, at their size in the window, also
    // while the window is hidden (see savePlotImage).
    bool saveImage(const QString &fileName, QString *error);

private:
    RecordingViewer(const QString &path, std::unique_ptr<Recording> recording, QWidget *parent);
    void fitToRecording(QCustomPlot *plot);

    std::unique_ptr<Recording> recording;
    Ui_RecordingViewer *ui;
};

// The program's --view mode: shows the recording at path and runs the event
// loop until its window closes; with an imageFile, writes the plots there
// instead and returns without showing a window. Status 0, or 1 with the
// reason on the standard error stream.
int viewRecording(const QString &path, const QString &imageFile);
