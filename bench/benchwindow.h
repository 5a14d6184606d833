#pragma once
// Building the main window in a benchmark as a user meets it: the start-up
// options dialog edited and accepted, the summary box closed.

#include "mainwindow.h"
#include "options.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <functional>
#include <memory>

namespace bench
{

// The descendant of root of type T named name; ends the benchmark when there
// is none.
template <class T> T *child(QObject *root, const char *name)
{
    auto *w = root->findChild<T *>(QLatin1String(name));
    if (!w)
        qFatal("no widget \"%s\"", name);
    return w;
}

// Runs the window's constructor, answering its modal dialogs: `edit` changes
// the options form's widgets before OK is pressed.
inline std::unique_ptr<MainWindow> startWindow(const std::function<void(Options &)> &edit)
{
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        if (auto *o = qobject_cast<Options *>(modal)) {
            edit(*o);
            child<QDialogButtonBox>(o, "buttonBox")->button(QDialogButtonBox::Ok)->click();
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            box->accept();
        }
    });
    answer.start(5);
    return std::make_unique<MainWindow>();
}

} // namespace bench
