#include "app/dialogs.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QSettings>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTranslator>
#include <QUrl>

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

QStringList TOpenDialog::TypedFiles() const {
    const auto* nameField = findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (nameField == nullptr) {
        return {};
    }
    const QString text = nameField->text().trimmed();
    QStringList names;
    if (text.startsWith(QLatin1Char('"'))) {
        // "a" "b" "c": the names between the quotes, the blanks between them skipped.
        const QStringList parts = text.split(QLatin1Char('"'));
        for (int i = 1; i < parts.size(); i += 2) {
            names << parts[i];
        }
    } else if (!text.isEmpty()) {
        names << text;
    }
    QStringList files;
    for (const QString& name : names) {
        const QFileInfo file(directory(), name);
        if (name.isEmpty() || !file.isFile()) {
            return {};
        }
        files << file.absoluteFilePath();
    }
    return files;
}

QStringList TOpenDialog::ChosenFiles() const {
    return chosen_.isEmpty() ? selectedFiles() : chosen_;
}

// While the name field shows what the dialog wrote for the list's selection, that selection
// is the choice. Names typed are taken in the order typed when every one is a file (the
// toolkit's own reading returns them in the list's order); anything else goes through the
// dialog's own checks.
void TOpenDialog::accept() {
    chosen_ = listChosen_ ? ListedSelection() : TypedFiles();
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

TFolderDialog::TFolderDialog(QWidget* parent, const QString& start)
    : QFileDialog(parent, kFolderPrompt, start) {
    setOption(QFileDialog::DontUseNativeDialog);
    setOption(QFileDialog::ShowDirsOnly);
    setFileMode(QFileDialog::Directory);
    setWindowModality(Qt::ApplicationModal);  // the program's other windows wait
    QList<QUrl> places;
    const auto addPlace = [&places](const QString& path) {
        const QUrl url = QUrl::fromLocalFile(path);
        if (!path.isEmpty() && QDir(path).exists() && !places.contains(url)) {
            places << url;
        }
    };
    addPlace(QDir::homePath());
    for (const auto location :
         {QStandardPaths::DesktopLocation, QStandardPaths::DocumentsLocation}) {
        addPlace(QStandardPaths::writableLocation(location));
    }
    // The mounted volumes a user keeps files on: not the system's own file systems.
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        const QString root = volume.rootPath();
        if (volume.isValid() && volume.isReady() &&
            (root == QStringLiteral("/") || root.startsWith(QStringLiteral("/media/")) ||
             root.startsWith(QStringLiteral("/mnt/")) ||
             root.startsWith(QStringLiteral("/run/media/")))) {
            addPlace(root);
        }
    }
    setSidebarUrls(places);
}

std::optional<QString> TQtDialogs::SelectFolder(QWidget* parent, const QString& start) {
    TFolderDialog dialog(parent, start);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return QDir::toNativeSeparators(QDir(dialog.selectedFiles().front()).absolutePath());
}

void TQtDialogs::ShowMessage(QWidget* parent, const QString& text, const QString& details) {
    QMessageBox box(QMessageBox::NoIcon, kApplicationTitle, text, QMessageBox::Ok, parent);
    if (!details.isEmpty()) {
        box.setDetailedText(details);
    }
    box.exec();
}

void TQtDialogs::Beep() {
    QApplication::beep();
}

void KeepNoSettings() {
    // A folder that cannot exist: nothing is read from it and nothing written there.
    const QString nowhere = QStringLiteral("/dev/null/zembrat-keeps-no-settings");
    for (const auto format : {QSettings::NativeFormat, QSettings::IniFormat}) {
        for (const auto scope : {QSettings::UserScope, QSettings::SystemScope}) {
            QSettings::setPath(format, scope, nowhere);
        }
    }
}

bool InstallJapaneseToolkitTexts(QTranslator& translator) {
    if (!translator.load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        return false;
    }
    return QCoreApplication::installTranslator(&translator);
}

}  // namespace zembrat::app
