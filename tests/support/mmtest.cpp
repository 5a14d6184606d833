#include "mmtest.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLCDNumber>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTextBrowser>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

namespace mmtest
{

void setTestMode(Options &o, bool on)
{
    widget<QRadioButton>(&o, on ? "TestProgram" : "RealProgram")->setChecked(true);
}

void setDrawPlots(Options &o, bool on)
{
    widget<QCheckBox>(&o, "checkBox")->setChecked(on);
}

void setDevice(Options &o, const QString &path)
{
    // The field is editable only while "Serial port setup" is checked.
    widget<QGroupBox>(&o, "groupBox_2")->setChecked(true);
    widget<QLineEdit>(&o, "devicenameField")->setText(path);
}

void setLogDirectory(Options &o, const QString &dir)
{
    widget<QLineEdit>(&o, "filenameField")->setText(dir);
}

void setAutoClearLines(Options &o, int lines)
{
    widget<QSpinBox>(&o, "AutoClearLines")->setValue(lines);
}

void setSensor(Options &o, int slot, bool on, int type, int bytes)
{
    const QString n = QString::number(slot);
    widget<QCheckBox>(&o, "S" + n + "On")->setChecked(on);
    widget<QComboBox>(&o, "S" + n + "_Sensor")->setCurrentIndex(type);
    widget<QSpinBox>(&o, "S" + n + "_Bytes")->setValue(bytes);
}

int answerModals(const std::function<void()> &open, const std::vector<ModalAnswer> &answers)
{
    std::size_t next = 0;
    QStringList problems;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        if (next < answers.size() && answers[next].type->cast(modal)) {
            answers[next++].answer(modal);
            return;
        }
        problems << "unexpected " + modal->windowTitle();
        ++next;
        if (auto *d = qobject_cast<QDialog *>(modal))
            d->reject();
        else
            modal->close();
    });
    poll.start(5);
    open();
    poll.stop();
    if (next < answers.size())
        problems << QStringLiteral("%1 dialog(s) never shown").arg(answers.size() - next);
    if (!problems.isEmpty())
        QTest::qFail(qPrintable(problems.join("; ")), __FILE__, __LINE__);
    return int(next) - int(problems.size());
}

ModalAnswer acceptOptions(const OptionsEditor &edit)
{
    return {&Options::staticMetaObject, [edit](QWidget *w) {
                auto *o = static_cast<Options *>(w);
                if (edit)
                    edit(*o);
                widget<QDialogButtonBox>(o, "buttonBox")->button(QDialogButtonBox::Ok)->click();
            }};
}

ModalAnswer closeMessageBox(MessageBox *seen)
{
    return {&QMessageBox::staticMetaObject, [seen](QWidget *w) {
                auto *box = static_cast<QMessageBox *>(w);
                if (seen)
                    *seen = {box->windowTitle(), box->text(), box->iconPixmap()};
                box->button(QMessageBox::Ok)->click();
            }};
}

ModalAnswer chooseFiles(const QString &names)
{
    return {&QFileDialog::staticMetaObject, [names](QWidget *w) {
                static_cast<QFileDialog *>(w)->selectFile(names);
                static_cast<QDialog *>(w)->accept();
            }};
}

// Set while a MainWindow is being built: a process ended meanwhile (the
// constructor's answer to declined options) must not look like a pass.
static bool constructing = false;

std::unique_ptr<MainWindow> startMainWindow(const OptionsEditor &edit, MessageBox *summary)
{
    static const int guarded = std::atexit([] {
        if (constructing) {
            std::fputs("FAIL: the MainWindow constructor ended the process\n", stderr);
            std::_Exit(1);
        }
    });
    Q_UNUSED(guarded);
    std::unique_ptr<MainWindow> window;
    constructing = true;
    answerModals([&] { window = std::make_unique<MainWindow>(); },
                 {acceptOptions(edit), closeMessageBox(summary)});
    constructing = false;
    return window;
}

int trigger(MainWindow &window, const char *action, const std::vector<ModalAnswer> &answers)
{
    QAction *a = widget<QAction>(&window, action);
    return answerModals([a] { a->trigger(); }, answers);
}

bool reopenOptions(MainWindow &window, const OptionsEditor &edit)
{
    return trigger(window, "actionOptions", {acceptOptions(edit)}) == 1;
}

int curvePixels(const QImage &image, const QRect &leaveOut)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            const int strong = (c.red() >= 200) + (c.green() >= 200) + (c.blue() >= 200);
            const int weak = (c.red() <= 120) + (c.green() <= 120) + (c.blue() <= 120);
            n += strong == 1 && weak == 2 && !leaveOut.contains(x, y);
        }
    return n;
}

} // namespace mmtest
