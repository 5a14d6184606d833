#pragma once

#include <QMainWindow>
#include <QString>
#include <QVector>
#include <cstdint>

class serialhandler;
class Options;
class Datalogger;
class QTimer;
class QCustomPlot;
class Ui_MainWindow;

// The program's one window: acquisition control, live values, plots, log.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // Runs the options dialog modally; rejecting it ends the process (status 0).
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

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
    void InitialisoiKuvaajat();
    void PiirraKuvaajat();
    void SkaalaaKuvaajat();
    void TyhjennaKuvaajat();
    void LahetaInitMsg();
    void MainTimeout();

private:
    QString version;
    serialhandler *serial;
    Options *options;
    Datalogger *logger;
    QTimer *timer;
    Ui_MainWindow *ui;
    bool plotsReady;
    int16_t gyroX, gyroY, gyroZ;
    int16_t accX, accY, accZ;
    QCustomPlot *accPlot;
    QCustomPlot *gyroPlot;
    QVector<double> accXData, accYData, accZData;
    QVector<double> gyroXData, gyroYData, gyroZData;
    QVector<double> indexData;
    int sampleCount;
    QString accTitle;
    QString gyroTitle;
};
