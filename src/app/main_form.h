// The main window: the user picks files, the action, the archive kind, two options and an
// output folder, and starts the batch run. Its controls are enabled step by step: first
// file selection only, then the settings and the folder button, then the run button.
#pragma once

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "app/anchors.h"
#include "app/dialogs.h"
#include "app/group_box.h"
#include "app/radio_group.h"
#include "batch/batch_run.h"

namespace zembrat::app {

class TSubForm;

// List lines of one fixed height.
class FixedLineDelegate : public QStyledItemDelegate {
  public:
    explicit FixedLineDelegate(int lineHeight) : lineHeight_(lineHeight) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  private:
    int lineHeight_;
};

class TMainForm : public QWidget, private batch::ProgressView, private batch::UserNotifier {
  public:
    // The client area the controls' places refer to; the width never changes, the height
    // only grows.
    static constexpr QSize kClientSize{342, 329};

    explicit TMainForm(TDialogs& dialogs, QWidget* parent = nullptr);
    ~TMainForm() override;

    // The progress window the runs use (created after the main window).
    void SetSubForm(TSubForm* subForm);

    // Handlers and operations.
    void SelectButtonClick();
    void DirSelectButtonClick();
    void GoButtonClick();
    void RadioGroup1Click();
    void ViewListBoxKeyDown(int key);
    void DeleteActionExecute();
    void SetupInitialize();
    void SetupEnabled();
    void ListSelectedDelete();

    // Files chosen from outside the open dialog, in the order given: the program's arguments
    // replace the selection as a choice in the dialog does (decompress is preselected when
    // every one is an archive of a kind the component knows); files dropped on the list are
    // added after the lines already there. Folders and files that do not exist are left out.
    void ChooseFiles(const QStringList& paths);
    void AddFiles(const QStringList& paths);
    // The folder the folder dialog opens at: the output folder when one is chosen, else the
    // first selected file's folder, else the home folder.
    QString FolderDialogStart() const;

    // True while a run may go on; the progress window's cancel clears it.
    bool Processing() const { return batch_.Processing(); }
    void SetProcessing(bool processing) { batch_.SetProcessing(processing); }
    // True for the length of a run, while the controls are locked.
    bool Running() const { return running_; }
    // The system asks the program to end (SIGTERM, SIGHUP, SIGINT): the window closes, and a
    // run in progress is stopped at the library's next progress report, which drops what it
    // was writing, so that nothing half-made or temporary is left behind.
    void Terminate();
    // The batch run, for its hooks (a file observer, extra options).
    batch::TBatchRun& Batch() { return batch_; }
    // The parent of every control; disabled while a run locks the window.
    QWidget& ClientArea() { return clientArea_; }

  private:
    // Members in parent-before-child order: children are destroyed first.
    TDialogs& dialogs_;
    QWidget clientArea_;
    FixedLineDelegate lineDelegate_{13};

  public:
    TGroupBox GroupBox1;
    QListWidget ViewListBox;
    QListWidget FileListBox;
    QPushButton SelectButton;
    QPushButton DeleteButton;
    TRadioGroup RadioGroup1;
    TRadioGroup RadioGroup2;
    TGroupBox GroupBox3;
    QCheckBox uwaCheck;
    QCheckBox upCheck;
    TGroupBox GroupBox2;
    QLineEdit DirEdit;
    QPushButton DirSelectButton;
    QPushButton GoButton;
    QAction DeleteAction;
    QMenu ListPopupMenu;  // its one item, popListDelete, is DeleteAction

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void PlaceControls();
    void ConnectHandlers();
    void SetFileCaption();
    // Fills both lists from paths (replacing or appending) and enables the settings.
    void ListFiles(const QStringList& paths, bool append);
    void LockControls(bool locked);
    // Lets the window's events through during a run: before every file, and from inside the
    // library's work at the start of every member and at most every kPumpInterval after.
    void PumpEvents();
    void LibraryProgress(int state, const EXTRACTINGINFOEX* record);
    void BeginFileProgress(std::size_t index);

    // ProgressView, forwarded to the progress window.
    void ProgressInitialize(int count) override;
    void Show() override;
    void SetLabel(const std::string& text) override;
    void StepIt() override;
    void Close() override;
    // UserNotifier, through the dialogs.
    void Beep() override;
    void ShowMessage(const std::string& text) override;
    void ShowCompletion(const batch::BatchResult& result) override;

    AnchorSet anchors_;
    TSubForm* subForm_ = nullptr;
    batch::TBatchRun batch_;
    bool running_ = false;
    bool closedDuringRun_ = false;  // the user closed the window during the run
    bool terminating_ = false;      // Terminate() was called: the library is told to stop
    std::chrono::steady_clock::time_point lastPump_;
    // The file in progress, for the bar's movement within it: its index, its size when
    // unpacking (0: packing, where the one member is the file), and the compressed bytes of
    // its members already done.
    std::vector<std::string> runPaths_;
    bool runUnpacks_ = false;
    std::size_t currentFile_ = 0;
    std::uint64_t archiveSize_ = 0;
    std::uint64_t membersDone_ = 0;
    bool centred_ = false;
};

}  // namespace zembrat::app
