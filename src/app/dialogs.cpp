#include "app/dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QStandardPaths>

#include "app/ui_style.h"

namespace zembrat::app {

namespace {

// The caption the filter shows; the pattern behind it lists every file, names without a
// dot included, and stays hidden.
const QString kAllFilesFilter = QStringLiteral("全てのファイル（*.*） (*)");
const QString kFolderPrompt = QStringLiteral("書き出しフォルダを選択してください");

}  // namespace

std::optional<QStringList> TQtDialogs::OpenFiles(QWidget* parent) {
    QFileDialog dialog(parent);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilter(kAllFilesFilter);
    dialog.setSizeGripEnabled(true);
    dialog.setSidebarUrls({});  // no places bar
    if (auto* sidebar = dialog.findChild<QWidget*>(QStringLiteral("sidebar"))) {
        sidebar->hide();
    }
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.selectedFiles();
}

std::optional<QString> TQtDialogs::SelectFolder(QWidget* parent) {
    QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!QDir(desktop).exists()) {
        desktop = QDir::homePath();
    }
    QFileDialog dialog(parent, kFolderPrompt, desktop);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setWindowModality(Qt::ApplicationModal);  // the program's other windows wait
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return QDir::toNativeSeparators(QDir(dialog.selectedFiles().front()).absolutePath());
}

void TQtDialogs::ShowMessage(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, kApplicationTitle, text, QMessageBox::Ok, parent);
    box.exec();
}

void TQtDialogs::Beep() {
    QApplication::beep();
}

}  // namespace zembrat::app
