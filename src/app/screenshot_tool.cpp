// Renders the main window in its three states and the progress window to PNG files:
//   zembrat-screenshots <folder>
// Run with QT_QPA_PLATFORM=offscreen; the dialogs answer with sample files and a folder.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <clocale>
#include <cstdio>

#include "app/dialogs.h"
#include "app/main_form.h"
#include "app/sub_form.h"
#include "app/ui_style.h"

namespace {

class SampleDialogs : public zembrat::app::TDialogs {
  public:
    std::optional<QStringList> OpenFiles(QWidget*) override {
        return QStringList{QStringLiteral("/home/user/写真/photo.jpg"),
                           QStringLiteral("/home/user/文書/報告書.txt"),
                           QStringLiteral("/home/user/文書/見積書.xls"),
                           QStringLiteral("/home/user/README")};
    }
    std::optional<QString> SelectFolder(QWidget*) override {
        return QStringLiteral("/home/user/書庫");
    }
    void ShowMessage(QWidget*, const QString&) override {}
    void Beep() override {}
};

bool Save(QWidget& window, const QDir& folder, const QString& name) {
    QApplication::processEvents();
    const QString path = folder.filePath(name);
    if (!window.grab().save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    zembrat::app::KeepPixelLayout();
    QApplication application(argc, argv);
    QApplication::setApplicationName(zembrat::app::kApplicationTitle);
    if (argc != 2) {
        std::fprintf(stderr, "usage: zembrat-screenshots <folder>\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.exists() && !QDir().mkpath(folder.path())) {
        std::fprintf(stderr, "cannot make %s\n", argv[1]);
        return 1;
    }

    SampleDialogs dialogs;
    zembrat::app::TMainForm mainForm(dialogs);
    zembrat::app::TSubForm subForm(&mainForm);
    mainForm.SetSubForm(&subForm);
    mainForm.show();

    bool saved = Save(mainForm, folder, QStringLiteral("main-empty.png"));
    mainForm.SelectButtonClick();
    saved = Save(mainForm, folder, QStringLiteral("main-files-chosen.png")) && saved;
    mainForm.DirSelectButtonClick();
    mainForm.uwaCheck.setChecked(true);
    saved = Save(mainForm, folder, QStringLiteral("main-ready.png")) && saved;

    subForm.ProgressInitialize(4);
    subForm.Show();
    subForm.StepIt();
    subForm.SetLabel("残り：4");
    saved = Save(subForm, folder, QStringLiteral("progress.png")) && saved;
    return saved ? 0 : 1;
}
