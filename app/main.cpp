#include "mainwindow.h"

#include <QApplication>

int main(int argc, char **argv)
{
    int status;
    {
        QApplication app(argc, argv);
        MainWindow window;
        window.show();
        status = app.exec();
    }
    return status;
}
