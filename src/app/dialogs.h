// The dialogs, message boxes and beep of the windows, behind an interface that tests
// replace.
#pragma once

#include <QFileDialog>
#include <QString>
#include <QStringList>
#include <optional>

class QWidget;
class QTranslator;

namespace zembrat::app {

class TDialogs {
  public:
    virtual ~TDialogs() = default;
    // The file-open dialog with several files at once: the chosen paths in the dialog's
    // order, nullopt when cancelled.
    virtual std::optional<QStringList> OpenFiles(QWidget* parent) = 0;
    // The folder dialog ("書き出しフォルダを選択してください"), opened at the start folder:
    // the folder's full path, nullopt when cancelled.
    virtual std::optional<QString> SelectFolder(QWidget* parent, const QString& start) = 0;
    // A plain modal message box: no icon, one OK button, the application title; details,
    // when given, behind a button that shows them in a scrollable area.
    virtual void ShowMessage(QWidget* parent, const QString& text,
                             const QString& details = QString()) = 0;
    // The system's default beep.
    virtual void Beep() = 0;
};

// The file-open dialog: several files at once, every file or the archives of every kind
// (every file first), no places bar. The toolkit's dialog writes a selection of several
// files into its name field as "a" "b" and reads the names back from there, so a name
// holding a double quote fell apart and the whole selection was refused; a selection made
// in the list is taken from the list.
class TOpenDialog : public QFileDialog {
  public:
    explicit TOpenDialog(QWidget* parent = nullptr);

    // The chosen paths in the dialog's order, once it was accepted.
    QStringList ChosenFiles() const;

    void accept() override;

  private:
    // The files selected in the folder on show; empty when the selection holds anything else.
    QStringList ListedSelection() const;
    // The files typed into the name field ("a" "b", or one name), in the order typed; empty
    // when one of them is no existing file.
    QStringList TypedFiles() const;

    bool listChosen_ = false;  // the last choice was made in the list, not typed
    QStringList chosen_;
};

// The folder dialog: folders only, opened at the start folder, with the usual places (home,
// desktop, documents, the mounted volumes) in its side pane.
class TFolderDialog : public QFileDialog {
  public:
    TFolderDialog(QWidget* parent, const QString& start);
};

// The real ones, with Qt widgets.
class TQtDialogs : public TDialogs {
  public:
    std::optional<QStringList> OpenFiles(QWidget* parent) override;
    std::optional<QString> SelectFolder(QWidget* parent, const QString& start) override;
    void ShowMessage(QWidget* parent, const QString& text, const QString& details) override;
    void Beep() override;
};

// The program keeps no settings: the toolkit's dialogs would otherwise read and write their
// history in the user's configuration folder. Call before any dialog exists.
void KeepNoSettings();

// The toolkit's own texts (the dialogs' buttons and labels) in Japanese whatever the locale,
// as the rest of the window is; false when the translation is not installed.
bool InstallJapaneseToolkitTexts(QTranslator& translator);

}  // namespace zembrat::app
