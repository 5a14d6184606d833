#include "mainwindow.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // The constructor runs the start-up options dialog and may end the process.
    MainWindow window;
    window.show();
    return app.exec();
}
