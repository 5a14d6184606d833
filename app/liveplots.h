#pragma once

#include "sample.h"

#include <QObject>
#include <QRect>
#include <QString>

class LivePlot;
class QCustomPlot;
class QPushButton;
class QWidget;

// The main window's two live plots, accelerometer and gyroscope, with their
// "Clear plots" button: built once, then fed one sample at a time.
//
// Every sample appends one point to each of the six graphs, keyed by a
// running sample count. The plots keep a sliding window: once more samples
// than the window length have been drawn since the start or the last clear,
// the oldest point leaves as the new one comes, so a window lowered at run
// time narrows what is held one point per sample. The time axis follows the
// newest point by the "Autoscale" state. The value axes start at the
// sensors' ranges and are the user's to drag and zoom, but a new point in
// view that lies outside its value axis widens it (never narrows it) to hold
// the point, so no value is drawn off the plot.
class LivePlots : public QObject
{
    Q_OBJECT
public:
    // Builds both plots and the button as children of `window`; the plots
    // are laid out by arrange().
    LivePlots(QWidget *window, const QString &accTitle, const QString &gyroTitle);

    QCustomPlot *accPlot() const;
    QCustomPlot *gyroPlot() const;
    QPushButton *clearButton() const { return clear; }

    void setTitles(const QString &accTitle, const QString &gyroTitle);
    // Places and shows the plots that the sensor set-up calls for and hides
    // the others (a hidden plot keeps its place and goes on taking points).
    // False when no plot is shown.
    bool arrange(bool s1On, bool s2On, int s1Sensor);

    // The room the plots share in a window of its designed size: both, one
    // above the other, fill it; one alone leaves its bottom 50 pixels free.
    static constexpr QRect designedRoom{400, 23, 600, 750};
    // Lets the shown plots, and those arrange() shows later, reach the
    // window's right edge `right` and down to `bottom` (exclusive), but never
    // take less than designedRoom.
    void setRoom(int right, int bottom);

    // Appends `sample` at key sampleCount() and redraws. `window` is the
    // window length (0 keeps one point); an `autoscale` of Qt::Checked shows
    // sampleCount - window to 1.2 sampleCount while sampleCount is at most
    // the window (or the window is 0), then to sampleCount + window / 5;
    // Qt::PartiallyChecked shows sampleCount - window to sampleCount + 20,
    // Qt::Unchecked leaves the time axis where it is.
    void append(const Sample &sample, int window, Qt::CheckState autoscale);
    // Empties the graphs and restarts the keys at 0; redraws at once.
    void clearPoints();
    // Key of the next sample: the samples drawn since the start or the
    // last clear.
    int sampleCount() const { return count; }

private:
    // Gives the plots that are shown their share of the room.
    void place();
    // Widens plot's value axis to hold the values of a point at `key`, when
    // the key is in view.
    static void holdInView(QCustomPlot *plot, double key, const std::array<int16_t, 3> &values);

    LivePlot *acc;
    LivePlot *gyro;
    QPushButton *clear;
    QRect room = designedRoom;
    bool both = false;         // both plots shown
    LivePlot *alone = nullptr; // else the one shown, if any
    int count = 0;
};
