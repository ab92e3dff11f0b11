// The dialogs, message boxes and beep of the windows, behind an interface that tests
// replace.
#pragma once

#include <QFileDialog>
#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace zembrat::app {

class TDialogs {
  public:
    virtual ~TDialogs() = default;
    // The file-open dialog with several files at once: the chosen paths in the dialog's
    // order, nullopt when cancelled.
    virtual std::optional<QStringList> OpenFiles(QWidget* parent) = 0;
    // The folder dialog ("書き出しフォルダを選択してください"): the folder's full path,
    // nullopt when cancelled.
    virtual std::optional<QString> SelectFolder(QWidget* parent) = 0;
    // A plain modal message box: no icon, one OK button, the application title.
    virtual void ShowMessage(QWidget* parent, const QString& text) = 0;
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

    bool listChosen_ = false;  // the last choice was made in the list, not typed
    QStringList chosen_;
};

// The real ones, with Qt widgets.
class TQtDialogs : public TDialogs {
  public:
    std::optional<QStringList> OpenFiles(QWidget* parent) override;
    std::optional<QString> SelectFolder(QWidget* parent) override;
    void ShowMessage(QWidget* parent, const QString& text) override;
    void Beep() override;
};

}  // namespace zembrat::app
