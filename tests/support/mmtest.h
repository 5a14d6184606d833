#pragma once
// Helpers shared by the widget tests: widgets by object name, the options form
// edited as a user edits it, the program's modal dialogs answered in turn,
// and what the main window shows and logs.

#include "mainwindow.h"
#include "options.h"
#include "testcore.h"

#include <QPixmap>
#include <functional>
#include <memory>
#include <vector>

namespace mmtest
{

// The descendant of root of type T named name; ends the test process when
// there is none, so a renamed widget cannot pass unnoticed.
template <class T> T *widget(const QObject *root, const QString &name)
{
    if (T *found = root->findChild<T *>(name))
        return found;
    qFatal("no %s named \"%s\"", T::staticMetaObject.className(), qPrintable(name));
}

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
// Runs `open`, answering in order the modal dialogs it shows; returns how
// many were answered. Another dialog, or answers left over, fail the test.
int answerModals(const std::function<void()> &open, const std::vector<ModalAnswer> &answers);
ModalAnswer acceptOptions(const OptionsEditor &edit = {});
struct MessageBox {
    QString title, text;
    QPixmap icon;
};
// Reads the box into *seen and presses OK.
ModalAnswer closeMessageBox(MessageBox *seen = nullptr);
// Types `names` into a file dialog (several as "\"a\" \"b\""), then accepts it.
ModalAnswer chooseFiles(const QString &names);

// A MainWindow as a user meets it: the start-up options edited and
// accepted, the summary box read and closed; not shown. Should the
// constructor end the process, the test fails instead of passing silently.
std::unique_ptr<MainWindow> startMainWindow(const OptionsEditor &edit = {},
                                            MessageBox *summary = nullptr);
// Triggers the window's action and answers what it opens.
int trigger(MainWindow &window, const char *action, const std::vector<ModalAnswer> &answers);
// "Edit" > "Options", edited, then OK.
bool reopenOptions(MainWindow &window, const OptionsEditor &edit = {});
// Pixels of the curves' pure colours (blue, green, red) in image, outside
// leaveOut.
int curvePixels(const QImage &image, const QRect &leaveOut = QRect());

} // namespace mmtest
