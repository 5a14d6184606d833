#pragma once

// Helpers shared by the tests: paths of the build, widgets by object name, and
// answering the program's modal dialogs as a user would.
//
// The main window runs the options dialog and the start-up summary box
// modally inside its constructor, and the menu runs them again later. Each
// helper here arms a polling timer, runs the call that opens the dialogs,
// answers every dialog it opens in turn through the handlers given, and
// returns once that call has returned. A dialog that appears unexpectedly, or
// of the wrong kind, is rejected (so nothing hangs) and fails the running test.
//
// Typical use, inside a QtTest function:
//
//     QString summary;
//     auto window = mmtest::startMainWindow(
//         [](Options &o) {
//             mmtest::setTestMode(o, true);
//             mmtest::setDrawPlots(o, false);
//         },
//         &summary);
//     QVERIFY(window);
//     auto *lcd = mmtest::widget<QLCDNumber>(window.get(), "acc_X");
//
// and later, to change options from the "Edit" menu:
//
//     QVERIFY(mmtest::reopenOptions(*window, [](Options &o) { ... }));

#include "mainwindow.h"
#include "options.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class QPixmap;
class QWidget;

namespace mmtest
{

// Path of the built program, of its folder (with logo.png and readme.txt) and
// of the source tree.
inline QString programPath()
{
    return QStringLiteral(MM_BINARY);
}
inline QString programDir()
{
    return QStringLiteral(MM_BIN_DIR);
}
inline QString sourceDir()
{
    return QStringLiteral(MM_SOURCE_DIR);
}

// The descendant of root of type T named name. Ends the test process with a
// message naming both when there is none, so a renamed widget cannot pass
// unnoticed or crash on a null pointer.
QObject *childNamed(const QObject *root, const QString &name, const QMetaObject &type);
template <class T> T *widget(const QObject *root, const QString &name)
{
    return static_cast<T *>(childNamed(root, name, T::staticMetaObject));
}

// Makes dir the working directory for its own lifetime: the program looks up
// "logo.png" and relative logging directories there.
class WorkingDirectory
{
public:
    explicit WorkingDirectory(const QString &dir);
    ~WorkingDirectory();
    WorkingDirectory(const WorkingDirectory &) = delete;
    WorkingDirectory &operator=(const WorkingDirectory &) = delete;

private:
    QString saved_;
};

// The program's one options dialog (a top-level widget without a parent);
// null when none exists.
Options *optionsDialog();

// Edits the options dialog's widgets while it is shown, before OK is pressed.
using OptionsEditor = std::function<void(Options &)>;

// Common edits of the options form, made on its widgets as a user would.
void setTestMode(Options &o, bool on = true);         // "Test mode" / "Wireless mode"
void setDrawPlots(Options &o, bool on);               // "Draw plots"
void setDevice(Options &o, const QString &path);      // devicenameField
void setLogDirectory(Options &o, const QString &dir); // filenameField
void setAutoClearLines(Options &o, int lines);        // AutoClearLines
void setNewFileLines(Options &o, int lines);          // newfilelines
// Sensor slot n (1 or 2): in use, type code (0 CMR3000, 1 SCA3100), bytes.
void setSensor(Options &o, int slot, bool on, int type, int bytes);

// One modal dialog to answer: it must be of class `type` (or derived), and
// `answer` must close it (for example by clicking one of its buttons).
struct ModalAnswer {
    const QMetaObject *type;
    std::function<void(QWidget *)> answer;
};

// Runs `open`, answering in order the modal dialogs it shows, then returns the
// number answered. More dialogs than answers, or a dialog of another class,
// fail the running test; so does `open` returning with answers left over.
int answerModals(const std::function<void()> &open, const std::vector<ModalAnswer> &answers);

// Answers: the options dialog, edited and then left with OK or with Cancel;
// a QMessageBox, its text and icon stored when the pointers are not null,
// closed with its OK button.
ModalAnswer acceptOptions(const OptionsEditor &edit = {});
ModalAnswer cancelOptions(const OptionsEditor &edit = {});
ModalAnswer closeMessageBox(QString *text = nullptr, QPixmap *icon = nullptr);

// Builds a MainWindow as the program does and as a user meets it: the
// start-up options dialog is edited by `edit` and accepted, and the start-up
// summary box is read into *summary (when not null) and closed. The window is
// not shown. If the constructor tries to end the process (which it does when
// the options are declined), the test process ends with a failure instead of
// a silent success.
std::unique_ptr<MainWindow> startMainWindow(const OptionsEditor &edit = {},
                                            QString *summary = nullptr);

// Opens the options dialog from the window's "Edit" menu (actionOptions) and
// answers it: edited by `edit`, then OK (accept true) or Cancel. Returns
// whether exactly that one dialog was shown and answered.
bool reopenOptions(MainWindow &window, const OptionsEditor &edit = {}, bool accept = true);

// Triggers the window's action `actionName` (e.g. "actionAbout") and returns
// the text of the message box it shows, closing it; the box's icon is stored
// into *icon when not null.
QString readMessageBoxOf(MainWindow &window, const QString &actionName, QPixmap *icon = nullptr);

} // namespace mmtest
