#pragma once
// Helpers shared by the widget tests: widgets by object name, the options form
// edited as a user edits it, and the program's modal dialogs answered in turn.
//
//     auto window = mmtest::startMainWindow([](Options &o) { mmtest::setTestMode(o); });
//     QVERIFY(window);
//     QVERIFY(mmtest::reopenOptions(*window, [](Options &o) { mmtest::setDrawPlots(o, true); }));

#include "mainwindow.h"
#include "options.h"

#include <QDir>
#include <QPixmap>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace mmtest
{

// The descendant of root of type T named name. Ends the test process naming
// both when there is none, so a renamed widget cannot pass unnoticed.
template <class T> T *widget(const QObject *root, const QString &name)
{
    if (T *found = root->findChild<T *>(name))
        return found;
    qFatal("no %s named \"%s\" under \"%s\"", T::staticMetaObject.className(), qPrintable(name),
           qPrintable(root->objectName()));
}

// Makes dir the working directory while it lives (the program finds
// "logo.png" and relative log directories there).
struct WorkingDirectory {
    const QString saved = QDir::currentPath();
    explicit WorkingDirectory(const QString &dir)
    {
        if (!QDir::setCurrent(dir))
            qFatal("cannot change to %s", qPrintable(dir));
    }
    ~WorkingDirectory() { QDir::setCurrent(saved); }
};

// Edits of the options form, made on its widgets while it is shown.
using OptionsEditor = std::function<void(Options &)>;
void setTestMode(Options &o, bool on = true); // "Test mode" or "Wireless mode"
void setDrawPlots(Options &o, bool on);
void setDevice(Options &o, const QString &path);
void setLogDirectory(Options &o, const QString &dir);
void setAutoClearLines(Options &o, int lines);
// Sensor slot 1 or 2: in use, type (0 CMR3000, 1 SCA3100), data bytes.
void setSensor(Options &o, int slot, bool on, int type, int bytes);

// One modal dialog to answer: of class `type` (or derived); `answer` closes it.
struct ModalAnswer {
    const QMetaObject *type;
    std::function<void(QWidget *)> answer;
};

// Runs `open`, answering in order the modal dialogs it shows, and returns how
// many were answered. A dialog of another class or beyond the answers is
// closed and fails the running test; so do answers left over.
int answerModals(const std::function<void()> &open, const std::vector<ModalAnswer> &answers);

// The options dialog edited, then left with OK or with Cancel.
ModalAnswer acceptOptions(const OptionsEditor &edit = {});
ModalAnswer cancelOptions(const OptionsEditor &edit = {});

// What a message box showed; closeMessageBox reads it (when given) and
// presses OK.
struct MessageBox {
    QString title, text;
    QPixmap icon;
    int buttons = 0;
};
ModalAnswer closeMessageBox(MessageBox *seen = nullptr);

// Builds a MainWindow as a user meets it: the start-up options dialog edited
// and accepted, the summary box read into *summary and closed. The window is
// not shown. Should the constructor end the process (as it does when the
// options are declined), the test process fails instead of passing silently.
std::unique_ptr<MainWindow> startMainWindow(const OptionsEditor &edit = {},
                                            MessageBox *summary = nullptr);

// Triggers the window's action named `action` and answers what it opens.
int trigger(MainWindow &window, const char *action, const std::vector<ModalAnswer> &answers);
// "Edit" > "Options", edited, then OK or Cancel; true when exactly that
// dialog was answered.
bool reopenOptions(MainWindow &window, const OptionsEditor &edit = {}, bool accept = true);

} // namespace mmtest
