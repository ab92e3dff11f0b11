// Program start-up: the application, its title, the main window, then the hidden progress
// window, and the message loop until the main window closes. Files named as arguments
// start chosen.
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTranslator>
#include <clocale>
#include <csignal>

#include "app/dialogs.h"
#include "app/main_form.h"
#include "app/sub_form.h"
#include "app/ui_style.h"

namespace {

// A signal only writes a byte here; the window hears it on the event loop, where it may act.
int signalPipe[2] = {-1, -1};

extern "C" void NoteTerminationSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM (a logout, a kill), SIGHUP (the terminal closed) and SIGINT end the program through
// the window, so that a run stops cleanly and removes its folders.
void EndThroughTheWindow(zembrat::app::TMainForm& mainForm) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        return;  // the default actions stay
    }
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &mainForm);
    QObject::connect(notifier, &QSocketNotifier::activated, &mainForm, [&mainForm] {
        char byte = 0;
        [[maybe_unused]] const auto got = ::read(signalPipe[0], &byte, 1);
        mainForm.Terminate();
    });
    for (const int signalNumber : {SIGTERM, SIGHUP, SIGINT}) {
        struct sigaction action {};
        action.sa_handler = NoteTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(signalNumber, &action, nullptr);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");  // file names and texts in the user's code page
    zembrat::app::KeepPixelLayout();
    zembrat::app::KeepNoSettings();
    QApplication application(argc, argv);
    QApplication::setApplicationName(zembrat::app::kApplicationTitle);
    QTranslator toolkitTexts;
    zembrat::app::InstallJapaneseToolkitTexts(toolkitTexts);

    zembrat::app::TQtDialogs dialogs;
    zembrat::app::TMainForm mainForm(dialogs);
    zembrat::app::TSubForm subForm(&mainForm);
    mainForm.SetSubForm(&subForm);
    EndThroughTheWindow(mainForm);  // the notifier belongs to the main window
    // zembrat FILE...: those files chosen, as the open dialog would give them.
    QStringList files;
    for (int i = 1; i < argc; ++i) {  // the toolkit has taken its own options out
        files << zembrat::app::FromNative(argv[i]);
    }
    mainForm.ChooseFiles(files);
    mainForm.show();
    return QApplication::exec();
}
