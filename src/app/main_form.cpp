#include "app/main_form.h"

#include <sys/stat.h>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMimeData>
#include <QScreen>
#include <QUrl>
#include <algorithm>
#include <memory>

#include "app/sub_form.h"
#include "app/ui_style.h"
#include "archiver_api.h"
#include "archives/archive_file.h"
#include "platform/path.h"

namespace zembrat::app {

namespace {

const QString kFilesCaption = QStringLiteral("圧縮・解凍ファイル");

// While the library works the window's events are let through this often: a repaint or the
// cancel button then looks immediate, and the packing loses nothing measurable.
constexpr auto kPumpInterval = std::chrono::milliseconds(20);

// Whether the component knows the kind of archive the file is (by its extension, or by its
// content for a ".exe").
bool IsKnownArchive(const QString& path) {
    try {
        const auto type = archives::TArchiveFile::DetectArchiverType(ToNative(path), true);
        return type != archives::atNone && type != archives::atAutoDetect;
    } catch (const std::exception&) {
        return false;
    }
}

// The files among the paths, in their order: folders and what does not exist are left out.
QStringList ExistingFiles(const QStringList& paths) {
    QStringList files;
    for (const QString& path : paths) {
        if (QFileInfo(path).isFile()) {
            files << QFileInfo(path).absoluteFilePath();
        }
    }
    return files;
}

QString FilesCaption(int count) {
    return kFilesCaption + QStringLiteral("（") + QString::number(count) + QStringLiteral("）");
}

}  // namespace

QSize FixedLineDelegate::sizeHint(const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(lineHeight_);
    return size;
}

TMainForm::TMainForm(TDialogs& dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      dialogs_(dialogs),
      clientArea_(this),
      GroupBox1(kFilesCaption, &clientArea_),
      ViewListBox(&GroupBox1),
      FileListBox(&GroupBox1),
      SelectButton(QStringLiteral("選択(&O)"), &GroupBox1),
      DeleteButton(&clientArea_),
      RadioGroup1(QStringLiteral("動作"), {QStringLiteral("圧縮"), QStringLiteral("解凍")}, 2,
                  &clientArea_),
      RadioGroup2(QStringLiteral("作成書庫形式"),
                  {QStringLiteral("LZH（通常圧縮形式）"), QStringLiteral("EXE(自己解凍形式）")}, 1,
                  &clientArea_),
      GroupBox3(QStringLiteral("設定"), &clientArea_),
      uwaCheck(QStringLiteral("同名ファイルの場合は上書き"), &GroupBox3),
      upCheck(QStringLiteral("拡張子は大文字"), &GroupBox3),
      GroupBox2(QStringLiteral("処理後の書き出しフォルダ"), &clientArea_),
      DirEdit(&GroupBox2),
      DirSelectButton(QStringLiteral("..."), &GroupBox2),
      GoButton(QStringLiteral("実行"), &clientArea_),
      DeleteAction(QStringLiteral("削除(&D)"), this),
      ListPopupMenu(this),
      batch_(*this, *this) {
    setWindowTitle(kApplicationTitle);
    ApplyFormLook(*this);
    resize(kClientSize);
    setFixedWidth(kClientSize.width());
    setMinimumHeight(kClientSize.height());

    ViewListBox.setFont(FormFont(13));
    ViewListBox.setItemDelegate(&lineDelegate_);
    ViewListBox.setUniformItemSizes(true);
    ViewListBox.setSelectionMode(QAbstractItemView::ExtendedSelection);
    ViewListBox.setContextMenuPolicy(Qt::CustomContextMenu);
    FileListBox.setSelectionMode(QAbstractItemView::ExtendedSelection);
    FileListBox.setVisible(false);

    ListPopupMenu.addAction(&DeleteAction);
    DeleteAction.setEnabled(false);
    DeleteButton.setText(DeleteAction.text());
    DeleteButton.setEnabled(false);

    RadioGroup1.SetItemIndex(0);
    RadioGroup1.setEnabled(false);
    RadioGroup2.SetItemIndex(0);
    RadioGroup2.setEnabled(false);
    uwaCheck.setEnabled(false);
    upCheck.setEnabled(false);
    DirEdit.setReadOnly(true);
    DirEdit.setEnabled(false);
    for (QPushButton* button : {&DirSelectButton, &GoButton}) {
        button->setFlat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setEnabled(false);
    }

    PlaceControls();
    setTabOrder(&ViewListBox, &FileListBox);
    setTabOrder(&FileListBox, &SelectButton);
    setTabOrder(&SelectButton, &RadioGroup1.Button(0));
    setTabOrder(&RadioGroup1.Button(0), &RadioGroup1.Button(1));
    setTabOrder(&RadioGroup1.Button(1), &RadioGroup2.Button(0));
    setTabOrder(&RadioGroup2.Button(0), &RadioGroup2.Button(1));
    setTabOrder(&RadioGroup2.Button(1), &uwaCheck);
    setTabOrder(&uwaCheck, &upCheck);
    setTabOrder(&upCheck, &DirEdit);
    setTabOrder(&DirEdit, &DeleteButton);
    SelectButton.setFocus();

    // No handler runs at creation: they are connected once the initial states stand.
    ConnectHandlers();
}

TMainForm::~TMainForm() {
    // The list's events stop reaching this window before its members go: a filter called while
    // the list is half destroyed would ask a dead object for its viewport.
    ViewListBox.viewport()->removeEventFilter(this);
    ViewListBox.removeEventFilter(this);
}

void TMainForm::PlaceControls() {
    const QSize form = kClientSize;
    const QSize files(334, 135);
    const QSize settings(186, 49);
    const QSize folder(334, 41);
    const unsigned bottomRight = kAnchorRight | kAnchorBottom;
    const unsigned bottomWide = kAnchorLeft | kAnchorRight | kAnchorBottom;
    anchors_.Place(clientArea_, QRect(QPoint(0, 0), form), form, kAnchorAll);
    anchors_.Place(GroupBox1, QRect(4, 8, 334, 135), form, kAnchorAll);
    anchors_.Place(ViewListBox, QRect(8, 16, 318, 91), files, kAnchorAll);
    anchors_.Place(FileListBox, QRect(208, 24, 109, 77), files, kAnchorAll);
    anchors_.Place(SelectButton, QRect(266, 109, 60, 22), files, bottomRight);
    anchors_.Place(DeleteButton, QRect(206, 117, 60, 22), form, bottomRight);
    anchors_.Place(RadioGroup1, QRect(4, 149, 334, 39), form, bottomWide);
    anchors_.Place(RadioGroup2, QRect(4, 200, 141, 49), form, bottomWide);
    anchors_.Place(GroupBox3, QRect(151, 200, 186, 49), form, bottomWide);
    anchors_.Place(uwaCheck, QRect(10, 12, 170, 17), settings, kAnchorDefault);
    anchors_.Place(upCheck, QRect(10, 30, 110, 17), settings, kAnchorDefault);
    anchors_.Place(GroupBox2, QRect(4, 258, 334, 41), form, bottomWide);
    anchors_.Place(DirEdit, QRect(4, 17, 305, 20), folder, kAnchorAll);
    anchors_.Place(DirSelectButton, QRect(310, 17, 20, 20), folder, kAnchorTop | kAnchorRight);
    anchors_.Place(GoButton, QRect(235, 304, 105, 22), form, bottomRight);
    DeleteButton.raise();  // it lies over the file group's lower edge
}

void TMainForm::ConnectHandlers() {
    connect(&SelectButton, &QPushButton::clicked, this, [this] { SelectButtonClick(); });
    connect(&DirSelectButton, &QPushButton::clicked, this, [this] { DirSelectButtonClick(); });
    connect(&GoButton, &QPushButton::clicked, this, [this] { GoButtonClick(); });
    connect(&RadioGroup1, &TRadioGroup::Click, this, [this] { RadioGroup1Click(); });
    connect(&DeleteAction, &QAction::triggered, this, [this] { DeleteActionExecute(); });
    // DeleteButton shows the action's caption and follows its enabled state.
    connect(&DeleteAction, &QAction::changed, this, [this] {
        DeleteButton.setText(DeleteAction.text());
        DeleteButton.setEnabled(DeleteAction.isEnabled());
    });
    connect(&DeleteButton, &QPushButton::clicked, &DeleteAction, &QAction::trigger);
    connect(&ViewListBox, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        ListPopupMenu.popup(ViewListBox.viewport()->mapToGlobal(at));
    });
    ViewListBox.installEventFilter(this);
    // Files dropped from a file manager land on the list's viewport.
    ViewListBox.setAcceptDrops(true);
    ViewListBox.viewport()->setAcceptDrops(true);
    ViewListBox.viewport()->installEventFilter(this);
}

void TMainForm::SetSubForm(TSubForm* subForm) {
    subForm_ = subForm;
    if (subForm_ != nullptr) {
        subForm_->SetOnCancel([this] { SetProcessing(false); });
    }
}

void TMainForm::SetFileCaption() {
    GroupBox1.setTitle(FilesCaption(ViewListBox.count()));
}

void TMainForm::SelectButtonClick() {
    if (running_) {
        return;
    }
    const auto chosen = dialogs_.OpenFiles(this);
    if (!chosen) {
        return;
    }
    ListFiles(*chosen, false);
}

void TMainForm::ListFiles(const QStringList& paths, bool append) {
    ViewListBox.setUpdatesEnabled(false);
    if (!append) {
        FileListBox.clear();
        ViewListBox.clear();
    }
    const int before = FileListBox.count();
    for (const QString& path : paths) {
        if (append && !FileListBox.findItems(path, Qt::MatchExactly).isEmpty()) {
            continue;  // already on the list
        }
        FileListBox.addItem(path);
        ViewListBox.addItem(FromNative(platform::ExtractFileName(ToNative(path))));
    }
    SetFileCaption();
    // Dropping onto a list that had files keeps the settings as they are.
    if (ViewListBox.count() >= 1 && (!append || before == 0)) {
        SetupEnabled();
    }
    ViewListBox.setUpdatesEnabled(true);
}

void TMainForm::ChooseFiles(const QStringList& paths) {
    if (running_) {
        return;
    }
    const QStringList files = ExistingFiles(paths);
    if (files.isEmpty()) {
        return;
    }
    ListFiles(files, false);
    if (std::all_of(files.begin(), files.end(), IsKnownArchive)) {
        RadioGroup1.SetItemIndex(1);
    }
}

void TMainForm::AddFiles(const QStringList& paths) {
    if (running_) {
        return;
    }
    const QStringList files = ExistingFiles(paths);
    if (!files.isEmpty()) {
        ListFiles(files, true);
    }
}

QString TMainForm::FolderDialogStart() const {
    if (!DirEdit.text().isEmpty() && QFileInfo(DirEdit.text()).isDir()) {
        return DirEdit.text();
    }
    if (FileListBox.count() > 0) {
        const QString folder = QFileInfo(FileListBox.item(0)->text()).absolutePath();
        if (QFileInfo(folder).isDir()) {
            return folder;
        }
    }
    return QDir::homePath();
}

void TMainForm::DirSelectButtonClick() {
    if (running_) {
        return;
    }
    const auto folder = dialogs_.SelectFolder(this, FolderDialogStart());
    if (!folder) {
        return;
    }
    DirEdit.setText(*folder);
    GoButton.setEnabled(true);
}

void TMainForm::RadioGroup1Click() {
    const bool compress = RadioGroup1.ItemIndex() == 0;
    RadioGroup2.setEnabled(compress);
    uwaCheck.setEnabled(compress);
    upCheck.setEnabled(compress);
}

void TMainForm::SetupEnabled() {
    ViewListBox.setCurrentRow(0, QItemSelectionModel::ClearAndSelect);
    DirSelectButton.setEnabled(true);
    RadioGroup1.SetItemIndex(0);
    RadioGroup1.setEnabled(true);
    RadioGroup2.setEnabled(true);
    uwaCheck.setEnabled(true);
    upCheck.setEnabled(true);
    DeleteAction.setEnabled(true);
    DirEdit.setEnabled(true);
}

void TMainForm::SetupInitialize() {
    GroupBox1.setTitle(kFilesCaption);
    ViewListBox.setUpdatesEnabled(false);
    ViewListBox.clear();
    ViewListBox.setUpdatesEnabled(true);
    FileListBox.clear();
    DirSelectButton.setEnabled(false);
    GoButton.setEnabled(false);
    DirEdit.clear();
    RadioGroup1.setEnabled(false);
    RadioGroup1.SetItemIndex(0);
    RadioGroup2.setEnabled(false);
    RadioGroup2.SetItemIndex(0);
    uwaCheck.setEnabled(false);
    uwaCheck.setChecked(false);
    upCheck.setEnabled(false);
    upCheck.setChecked(false);
    DirEdit.setEnabled(false);
    SelectButton.setFocus();
    DeleteAction.setEnabled(false);
}

void TMainForm::ListSelectedDelete() {
    if (running_) {
        return;  // the run reads the lists
    }
    for (int i = 0; i < ViewListBox.count() && i < FileListBox.count(); ++i) {
        FileListBox.item(i)->setSelected(ViewListBox.item(i)->isSelected());
    }
    for (QListWidget* list : {&ViewListBox, &FileListBox}) {
        for (int i = list->count() - 1; i >= 0; --i) {
            if (list->item(i)->isSelected()) {
                std::unique_ptr<QListWidgetItem> removed(list->takeItem(i));
            }
        }
    }
    if (ViewListBox.count() > 0) {
        SetFileCaption();
        ViewListBox.setCurrentRow(0, QItemSelectionModel::ClearAndSelect);
    } else {
        DeleteAction.setEnabled(false);
        SetupInitialize();
    }
}

void TMainForm::ViewListBoxKeyDown(int key) {
    if (key == Qt::Key_Delete) {
        ListSelectedDelete();
    }
}

void TMainForm::DeleteActionExecute() {
    ListSelectedDelete();
}

void TMainForm::GoButtonClick() {
    if (running_) {
        return;
    }
    batch::BatchSettings settings;
    for (int i = 0; i < FileListBox.count(); ++i) {
        settings.paths.push_back(ToNative(FileListBox.item(i)->text()));
    }
    settings.action = RadioGroup1.ItemIndex() == 1 ? batch::BatchAction::kDecompress
                                                   : batch::BatchAction::kCompress;
    settings.kind =
        RadioGroup2.ItemIndex() == 1 ? batch::ArchiveKind::kExe : batch::ArchiveKind::kLzh;
    settings.overwrite = uwaCheck.isChecked();
    settings.upperCaseExtension = upCheck.isChecked();
    settings.outputFolder = ToNative(DirEdit.text());
    settings.window = 0;  // the progress reports go to the component's own handler

    // Pending events get through between files and while the library works, so that the
    // windows repaint and the progress window's cancel hides it at once; the controls stay
    // locked meanwhile, and the handlers refuse to act while running_ is set.
    auto& hooks = batch_.Hooks();
    hooks.pumpEvents = [this] { PumpEvents(); };
    // A cancel (or a close) stops the library at its next report: it drops the file it was
    // writing, as it does when the program is told to end.
    hooks.prepareArchive = [this](archives::TArchiveFile& archive) {
        archive.SetOnProgress(
            [this](archives::TArchiveFile&, int state, LPEXTRACTINGINFOEX record, bool& abort) {
                LibraryProgress(state, record);
                abort = abort || terminating_ || !batch_.Processing();
            });
    };
    runPaths_ = settings.paths;
    runUnpacks_ = settings.action == batch::BatchAction::kDecompress;
    hooks.onCompleted = [this] {
        LockControls(false);
        SetupInitialize();
    };
    closedDuringRun_ = false;
    LockControls(true);
    try {
        batch_.Run(settings);
        LockControls(false);
    } catch (const std::exception& error) {
        // What the application's default handler does with an exception: show its message.
        LockControls(false);
        ShowMessage(error.what());
    }
}

void TMainForm::Terminate() {
    terminating_ = true;
    close();  // during a run: as a close by the user, and the library is stopped as well
}

void TMainForm::PumpEvents() {
    lastPump_ = std::chrono::steady_clock::now();
    QCoreApplication::processEvents();
}

void TMainForm::LibraryProgress(int state, const EXTRACTINGINFOEX* record) {
    if (record != nullptr && subForm_ != nullptr &&
        (state == ARC_PROGRESS_UPDATE || state == ARC_PROGRESS_END)) {
        const double member =
            record->file_size == 0
                ? 1.0
                : std::min(1.0, static_cast<double>(record->write_size) / record->file_size);
        if (!runUnpacks_) {
            subForm_->SetFileFraction(state == ARC_PROGRESS_END ? 1.0 : member);
        } else if (archiveSize_ > 0) {
            // Unpacking: how far into the archive its members have come, by compressed bytes.
            const double current = static_cast<double>(record->compressed_size) *
                                   (state == ARC_PROGRESS_END ? 1.0 : member);
            subForm_->SetFileFraction((static_cast<double>(membersDone_) + current) /
                                      static_cast<double>(archiveSize_));
            if (state == ARC_PROGRESS_END) {
                membersDone_ += record->compressed_size;
            }
        }
    }
    if (state == ARC_PROGRESS_BEGIN ||
        std::chrono::steady_clock::now() - lastPump_ >= kPumpInterval) {
        PumpEvents();
    }
}

void TMainForm::LockControls(bool locked) {
    running_ = locked;
    clientArea_.setEnabled(!locked);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ViewListBox.viewport()) {
        switch (event->type()) {
            case QEvent::DragEnter:
            case QEvent::DragMove: {
                auto* drag = static_cast<QDropEvent*>(event);
                if (!running_ && drag->mimeData()->hasUrls()) {
                    drag->acceptProposedAction();
                    return true;
                }
                break;
            }
            case QEvent::Drop: {
                auto* drop = static_cast<QDropEvent*>(event);
                QStringList paths;
                for (const QUrl& url : drop->mimeData()->urls()) {
                    if (url.isLocalFile()) {
                        paths << url.toLocalFile();
                    }
                }
                AddFiles(paths);
                drop->acceptProposedAction();
                return true;
            }
            default:
                break;
        }
    }
    if (watched == &ViewListBox && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        ViewListBoxKeyDown(key);
        if (key == Qt::Key_Delete) {
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TMainForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    anchors_.Apply();
}

void TMainForm::showEvent(QShowEvent* event) {
    if (!centred_) {
        centred_ = true;
        if (const QScreen* screen = this->screen()) {
            const QRect available = screen->availableGeometry();
            move(available.center() - QPoint(width() / 2, height() / 2));
        }
    }
    QWidget::showEvent(event);
}

// Closing during a run closes at once, and the run stops as after a cancel: the library drops
// the file in progress at its next report, no message is shown, and the program ends when
// the run has returned to the message loop.
void TMainForm::closeEvent(QCloseEvent* event) {
    if (running_) {
        closedDuringRun_ = true;
        SetProcessing(false);
        if (subForm_ != nullptr) {
            subForm_->hide();
        }
    }
    QWidget::closeEvent(event);
}

// The start of the file the run handles next, for the bar's movement within it.
void TMainForm::BeginFileProgress(std::size_t index) {
    currentFile_ = index;
    membersDone_ = 0;
    archiveSize_ = 0;
    struct stat info {};
    if (runUnpacks_ && index < runPaths_.size() && ::stat(runPaths_[index].c_str(), &info) == 0) {
        archiveSize_ = static_cast<std::uint64_t>(info.st_size);
    }
}

void TMainForm::ProgressInitialize(int count) {
    BeginFileProgress(0);
    if (subForm_ != nullptr) {
        subForm_->ProgressInitialize(count);
    }
}

void TMainForm::Show() {
    if (subForm_ != nullptr) {
        subForm_->Show();
    }
}

void TMainForm::SetLabel(const std::string& text) {
    if (subForm_ != nullptr) {
        subForm_->SetLabel(text);
    }
}

void TMainForm::StepIt() {
    BeginFileProgress(currentFile_ + 1);
    if (subForm_ != nullptr) {
        subForm_->StepIt();
    }
}

void TMainForm::Close() {
    if (subForm_ != nullptr) {
        subForm_->Close();
    }
}

void TMainForm::Beep() {
    if (!closedDuringRun_) {
        dialogs_.Beep();
    }
}

void TMainForm::ShowMessage(const std::string& text) {
    if (!closedDuringRun_) {
        dialogs_.ShowMessage(this, FromNative(text));
    }
}

// A box that fits the screen: the first failures with the count of the rest, every one of
// them behind the details button; the library's reasons in Japanese.
void TMainForm::ShowCompletion(const batch::BatchResult& result) {
    if (!closedDuringRun_) {
        const auto message = batch::ShortCompletionMessage(result);
        dialogs_.ShowMessage(this, FromNative(message.text), FromNative(message.details));
    }
}

}  // namespace zembrat::app
