#pragma once

#include "frameformat.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>
#include <cstdint>
#include <memory>

class serialhandler;
class Options;
class Datalogger;
class LivePlots;
class LinkWatch;
class QLabel;
class Pacer;
class QTimer;
class Ui_MainWindow;

// The program's one window: acquisition control, live values, plots, log.
//
// Samples from the serial link and from the test-mode generator take the
// same road: OtaVastaanData stores them, shows them on the displays, hands
// them to the plots (once built) and, while "Datalog" is checked, to the
// logger.
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
    // The status bar while acquiring; in wireless mode it also checks the
    // link (reopening a lost receiver) about twice a second.
    void showLinkState();
    // "File" > "Open recording…": each file chosen opens in a viewer window
    // of its own; each refused file is named in a message box instead.
    void openRecordings();
    // "File" > "Save image…": the live plots as shown (enabled once built).
    void saveImage();

private:
    bool plotsReady() const { return plots != nullptr; }
    Sample latestSample() const;

    QString version;
    serialhandler *serial;
    Options *options;
    Datalogger *logger;
    QTimer *timer;
    Ui_MainWindow *ui;
    LivePlots *plots = nullptr; // built by InitialisoiKuvaajat, then kept
    std::unique_ptr<LinkWatch> watch;
    // The displays show the newest sample, refreshed no more often than can
    // be seen (the samples of a tick or of a fast line would repaint them in
    // vain).
    Pacer *displays;
    QTimer *statusTimer;
    // In the status bar, on the part of it that the plots leave free.
    QLabel *linkState;
    QElapsedTimer clock;
    int16_t gyroX = 0, gyroY = 0, gyroZ = 0;
    int16_t accX = 0, accY = 0, accZ = 0;
    QString accTitle;
    QString gyroTitle;
    // The mode whose samples the open log file holds: a file holds one source.
    bool logHoldsTestSamples = false;
};
