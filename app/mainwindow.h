#pragma once

#include "sample.h"

#include <QMainWindow>
#include <QString>
#include <cstdint>

class Acquisition;
class serialhandler;
class Options;
class Outputs;
class OutputsDialog;
class Datalogger;
class LivePlots;
class QLabel;
class Pacer;
class QTimer;
class SpectrumWindow;
class Ui_MainWindow;

// The program's one window: the controls, live values, plots and message
// log of an Acquisition, which does the work below it.
//
// The slots keep the names and the order of messages the program has always
// had; those that drive acquisition forward to `acquisition`. Every sample,
// received (the link's SendData) or generated in test mode, reaches
// OtaVastaanData, which shows it on the displays and hands it to the plots
// once they are built.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // Runs the options dialog modally; rejecting it ends the process (status 0).
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // "1.3.0_linux": the project's version, as the About box shows it.
    static QString versionString();

private slots:
    void AvaaOptions();
    void AvaaAbout();
    void AvaaReadme();
    void AvaaMuistutus();
    void OtaVastaanOptions(int *optionFrame);
    void OtaVastaanViesti(QString msg);
    void on_Start_Button_clicked();
    void on_Stop_Button_clicked();
    void OtaVastaanData(int16_t a0, int16_t a1, int16_t a2, int16_t g0, int16_t g1, int16_t g2);
    void PaivitaLcdt();
    // The plot slots hand the work to `plots`, which holds both plot
    // widgets, their points and the sample count.
    void InitialisoiKuvaajat();
    void PiirraKuvaajat();
    void SkaalaaKuvaajat();
    void TyhjennaKuvaajat();
    void LahetaInitMsg();
    void MainTimeout();
    // The acquisition's own lines; a new page clears the message log first.
    void showMessage(const QString &text, bool newPage);
    // The status bar: the link's figures and the log file while acquiring,
    // and the live outputs' state while any is open.
    void showLinkState();
    // "File" > "Open recording…": each file chosen opens in a viewer window
    // of its own; each refused file is named in a message box instead.
    void openRecordings();
    // "File" > "Save image…": the live plots as shown (enabled once built).
    void saveImage();
    // "Edit" > "Live outputs…": accepted settings take effect at once.
    void openOutputs();
    // "View" > "Spectrum": the live spectrum's window, made at the first
    // choice and fed every sample from then on.
    void showSpectrum();
    // "Edit" > "Add note…" (enabled while acquiring): takes this moment and
    // asks for the note's text in a dialog that is not modal, so that
    // acquisition goes on; OK adds the note (Acquisition::addNote), which
    // the message log shows, Cancel drops it. Several may be open at once.
    void addNote();

protected:
    // A window larger than designed gives its room to the plots and the status bar.
    void resizeEvent(QResizeEvent *event) override;

private:
    bool plotsReady() const { return plots != nullptr; }

    QString version;
    Acquisition *acquisition;
    serialhandler *serial; // the acquisition's
    Options *options;
    Datalogger *logger; // the acquisition's
    QTimer *timer;      // the acquisition's
    Ui_MainWindow *ui;
    LivePlots *plots = nullptr; // built by InitialisoiKuvaajat, then kept
    // The displays show the newest sample, refreshed no more often than can
    // be seen (the samples of a tick or of a fast line would repaint them in
    // vain).
    Pacer *displays;
    // In the status bar, on the part of it that the plots leave free, or
    // across it in a window tall enough for the plots to end above it.
    QLabel *linkState;
    // Every sample taken also goes to the live outputs, when any is set.
    Outputs *outputs;
    OutputsDialog *outputsDialog;
    bool statusBarFree = false;
    Sample latest;
    SpectrumWindow *spectrum = nullptr;
    QString accTitle;
    QString gyroTitle;
};
