#include "app/dialogs.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QStandardPaths>

#include "app/ui_style.h"
#include "archives/archive_file.h"

namespace zembrat::app {

namespace {

// The caption the filter shows; the pattern behind it lists every file, names without a
// dot included, and stays hidden.
const QString kAllFilesFilter = QStringLiteral("全てのファイル（*.*） (*)");
const QString kFolderPrompt = QStringLiteral("書き出しフォルダを選択してください");

// The second filter: every kind the component has a driver for, self-extracting programs
// included (the toolkit matches the patterns without regard to letter case).
QString ArchivesFilter() {
    QStringList patterns;
    for (const std::string& extension : archives::TArchiveFile::ArchiveExtensions()) {
        patterns << QLatin1Char('*') + QString::fromStdString(extension);
    }
    return QStringLiteral("書庫ファイル (%1)").arg(patterns.join(QLatin1Char(' ')));
}

}  // namespace

TOpenDialog::TOpenDialog(QWidget* parent) : QFileDialog(parent) {
    setOption(QFileDialog::DontUseNativeDialog);
    setOption(QFileDialog::HideNameFilterDetails);
    setFileMode(QFileDialog::ExistingFiles);
    setNameFilters({kAllFilesFilter, ArchivesFilter()});
    setSizeGripEnabled(true);
    setSidebarUrls({});  // no places bar
    if (auto* sidebar = findChild<QWidget*>(QStringLiteral("sidebar"))) {
        sidebar->hide();
    }
    // Whether the name field holds what the dialog wrote for the list's selection (it writes
    // there only while the field has no focus) or what the user typed.
    auto* nameField = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    const auto* view = findChild<QAbstractItemView*>(QStringLiteral("listView"));
    if (nameField != nullptr && view != nullptr && view->selectionModel() != nullptr) {
        connect(nameField, &QLineEdit::textEdited, this, [this] { listChosen_ = false; });
        connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                [this, nameField] {
                    if (!nameField->hasFocus()) {
                        listChosen_ = true;
                    }
                });
    }
}

QStringList TOpenDialog::ChosenFiles() const {
    return chosen_.isEmpty() ? selectedFiles() : chosen_;
}

// While the name field shows what the dialog wrote for the list's selection, that selection
// is the choice. Anything typed goes through the dialog's own checks.
void TOpenDialog::accept() {
    chosen_ = listChosen_ ? ListedSelection() : QStringList();
    if (!chosen_.isEmpty()) {
        QDialog::accept();
        return;
    }
    QFileDialog::accept();
}

QStringList TOpenDialog::ListedSelection() const {
    // The list and the detail view share one selection.
    const auto* view = findChild<QAbstractItemView*>(QStringLiteral("listView"));
    if (view == nullptr || view->selectionModel() == nullptr) {
        return {};
    }
    QStringList files;
    for (const QModelIndex& row : view->selectionModel()->selectedRows()) {
        // Reading a quoted name back can select the folder on show itself: not a choice.
        if (row.parent() != view->rootIndex()) {
            continue;
        }
        const QFileInfo file(row.data(QFileSystemModel::FilePathRole).toString());
        if (!file.isFile()) {
            return {};  // a folder: the dialog opens it
        }
        files << file.filePath();
    }
    return files;
}

std::optional<QStringList> TQtDialogs::OpenFiles(QWidget* parent) {
    TOpenDialog dialog(parent);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return dialog.ChosenFiles();
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
