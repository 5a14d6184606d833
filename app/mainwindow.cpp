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

void MainWindow::AvaaAbout() {}
void MainWindow::AvaaReadme() {}
void MainWindow::AvaaMuistutus() {}
