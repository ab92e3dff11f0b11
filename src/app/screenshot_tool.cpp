// Renders the main window in its three states, the progress window (working and stopping)
// and a final message with failures to PNG files:
//   zembrat-screenshots <folder>
// Run with QT_QPA_PLATFORM=offscreen; the dialogs answer with sample files and a folder.
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPixmap>
#include <QTranslator>
#include <clocale>
#include <cstdio>

#include "app/dialogs.h"
#include "app/main_form.h"
#include "app/sub_form.h"
#include "app/ui_style.h"
#include "archiver_api.h"

namespace {

class SampleDialogs : public zembrat::app::TDialogs {
  public:
    std::optional<QStringList> OpenFiles(QWidget*) override {
        return QStringList{QStringLiteral("/home/user/写真/photo.jpg"),
                           QStringLiteral("/home/user/文書/報告書.txt"),
                           QStringLiteral("/home/user/文書/見積書.xls"),
                           QStringLiteral("/home/user/README")};
    }
    std::optional<QString> SelectFolder(QWidget*, const QString&) override {
        return QStringLiteral("/home/user/書庫");
    }
    void ShowMessage(QWidget*, const QString&, const QString&) override {}
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
    QTranslator toolkitTexts;  // the message box's buttons as the program shows them
    zembrat::app::InstallJapaneseToolkitTexts(toolkitTexts);
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

    // The second of four files, 45% of its bytes done; then the same after a cancel.
    subForm.ProgressInitialize(4);
    subForm.Show();
    subForm.StepIt();
    subForm.SetLabel("残り：4");
    subForm.SetFileFraction(0.45);
    saved = Save(subForm, folder, QStringLiteral("progress.png")) && saved;
    subForm.CancelButtonClick();
    saved = Save(subForm, folder, QStringLiteral("progress-stopping.png")) && saved;
    subForm.Close();

    // The end of a run where fourteen damaged archives failed: ten named, the rest counted,
    // all of them behind the details button.
    zembrat::batch::BatchResult result;
    result.processed = 14;
    for (int i = 1; i <= 14; ++i) {
        result.failed.push_back({"/home/user/受信/古い書庫" + std::to_string(i) + ".lzh", "",
                                 ARC_ERROR_BROKEN_ARCHIVE,
                                 "damaged archive: compressed data ends early"});
    }
    const auto message = zembrat::batch::ShortCompletionMessage(result);
    QMessageBox box(QMessageBox::NoIcon, zembrat::app::kApplicationTitle,
                    QString::fromStdString(message.text), QMessageBox::Ok, &mainForm);
    box.setDetailedText(QString::fromStdString(message.details));
    box.show();
    saved = Save(box, folder, QStringLiteral("message-failures.png")) && saved;
    return saved ? 0 : 1;
}
