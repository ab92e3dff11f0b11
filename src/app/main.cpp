// Program start-up: the application, its title, the main window, then the hidden progress
// window, and the message loop until the main window closes.
#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <clocale>

#include "app/dialogs.h"
#include "app/main_form.h"
#include "app/sub_form.h"
#include "app/ui_style.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");  // file names and texts in the user's code page
    zembrat::app::KeepPixelLayout();
    QApplication application(argc, argv);
    QApplication::setApplicationName(zembrat::app::kApplicationTitle);
    // The toolkit's own dialogs in the user's language, where its translations are installed.
    QTranslator toolkitTexts;
    if (toolkitTexts.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&toolkitTexts);
    }

    zembrat::app::TQtDialogs dialogs;
    zembrat::app::TMainForm mainForm(dialogs);
    zembrat::app::TSubForm subForm(&mainForm);
    mainForm.SetSubForm(&subForm);
    mainForm.show();
    return QApplication::exec();
}
