#include "mainwindow.h"

// TODO(acquisition): placeholder.
void MainWindow::AvaaOptions() {}
void MainWindow::OtaVastaanOptions(int *) {}
void MainWindow::OtaVastaanViesti(QString) {}
void MainWindow::on_Start_Button_clicked() {}
void MainWindow::on_Stop_Button_clicked() {}
void MainWindow::OtaVastaanData(int16_t, int16_t, int16_t, int16_t, int16_t, int16_t) {}
void MainWindow::PaivitaLcdt() {}
void MainWindow::LahetaInitMsg() {}
void MainWindow::MainTimeout() {}
