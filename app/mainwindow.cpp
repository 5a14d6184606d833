#include "mainwindow.h"

#include "datalogger.h"
#include "options.h"
#include "serialhandler.h"

#include <QTimer>

// TODO(foundation): placeholder until the forms exist.
MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), serial(nullptr), options(nullptr), logger(nullptr), timer(nullptr),
      ui(nullptr), plotsReady(false), gyroX(0), gyroY(0), gyroZ(0), accX(0), accY(0), accZ(0),
      accPlot(nullptr), gyroPlot(nullptr), sampleCount(0)
{
}

MainWindow::~MainWindow() = default;

void MainWindow::AvaaOptions() {}
void MainWindow::AvaaAbout() {}
void MainWindow::AvaaReadme() {}
void MainWindow::AvaaMuistutus() {}
void MainWindow::OtaVastaanOptions(int *) {}
void MainWindow::OtaVastaanViesti(QString) {}
void MainWindow::on_Start_Button_clicked() {}
void MainWindow::on_Stop_Button_clicked() {}
void MainWindow::OtaVastaanData(int16_t, int16_t, int16_t, int16_t, int16_t, int16_t) {}
void MainWindow::PaivitaLcdt() {}
void MainWindow::InitialisoiKuvaajat() {}
void MainWindow::PiirraKuvaajat() {}
void MainWindow::SkaalaaKuvaajat() {}
void MainWindow::TyhjennaKuvaajat() {}
void MainWindow::LahetaInitMsg() {}
void MainWindow::MainTimeout() {}
