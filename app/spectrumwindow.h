#pragma once

#include "sample.h"
#include "spectrum.h"

#include <QElapsedTimer>
#include <QWidget>

#include <deque>
#include <memory>

class QTimer;
class SpectrumPlot;
class Ui_SpectrumWindow;

// The live spectrum ("View" > "Spectrum" of the main window): the spectrum
// (see Spectrum) of each axis over the samples of the last seconds (chosen
// in the window, 10 by default), at the rate they arrived, redrawn a few
// times a second while samples come and not at all otherwise. Samples more
// than a second apart part the stretches no segment crosses (acquisition
// stopped and started again). The samples of the last ten minutes are kept,
// so a longer choice shows at once what there is.
class SpectrumWindow : public QWidget
{
    Q_OBJECT
public:
    explicit SpectrumWindow(QWidget *parent = nullptr);
    ~SpectrumWindow() override;

    // A sample as it arrives.
    void append(const Sample &sample);
    // The spectrum as last drawn.
    const Spectrum &spectrum() const { return shown; }

private:
    void redraw();

    struct Arrival {
        Sample sample;
        qint64 ms; // since the window was made
    };
    std::deque<Arrival> arrivals;
    QElapsedTimer clock;
    QTimer *pace;
    bool waiting = false; // samples arrived since the last drawing
    std::unique_ptr<SpectrumPlot> plots[2];
    Spectrum shown;
    Ui_SpectrumWindow *ui;
};
