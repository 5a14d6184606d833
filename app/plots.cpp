#include "mainwindow.h"

// TODO(plots): placeholder.
void MainWindow::InitialisoiKuvaajat() {}
void MainWindow::PiirraKuvaajat() {}
void MainWindow::SkaalaaKuvaajat() {}
void MainWindow::TyhjennaKuvaajat() {}
