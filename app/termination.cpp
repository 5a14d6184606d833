#include "termination.h"

#include "terminationsignals.h"

#include <QApplication>
#include <QWidget>

namespace
{
bool requested = false;
} // namespace

void closeOnTermination(QCoreApplication &app)
{
    auto *termination = new TerminationSignals(&app);
    QObject::connect(termination, &TerminationSignals::arrived, &app, [] {
        requested = true;
        // Modal dialogs first, innermost first: each close ends its exec().
        while (QWidget *modal = QApplication::activeModalWidget())
            if (!modal->close())
                break;
        QApplication::closeAllWindows();
    });
}

bool terminationRequested()
{
    return requested;
}
