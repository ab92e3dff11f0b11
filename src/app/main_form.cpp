#include "app/main_form.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <memory>

#include "app/sub_form.h"
#include "app/ui_style.h"
#include "archiver_api.h"
#include "platform/path.h"

namespace zembrat::app {

namespace {

const QString kFilesCaption = QStringLiteral("圧縮・解凍ファイル");

// While the library works the window's events are let through this often: a repaint or the
// cancel button then looks immediate, and the packing loses nothing measurable.
constexpr auto kPumpInterval = std::chrono::milliseconds(20);

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

TMainForm::~TMainForm() = default;

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
    ViewListBox.setUpdatesEnabled(false);
    FileListBox.clear();
    ViewListBox.clear();
    FileListBox.addItems(*chosen);
    for (int i = 0; i < FileListBox.count(); ++i) {
        const std::string path = ToNative(FileListBox.item(i)->text());
        ViewListBox.addItem(FromNative(platform::ExtractFileName(path)));
    }
    SetFileCaption();
    if (ViewListBox.count() >= 1) {
        SetupEnabled();
    }
    ViewListBox.setUpdatesEnabled(true);
}

void TMainForm::DirSelectButtonClick() {
    if (running_) {
        return;
    }
    const auto folder = dialogs_.SelectFolder(this);
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
    hooks.prepareArchive = [this](archives::TArchiveFile& archive) {
        archive.SetOnProgress(
            [this](archives::TArchiveFile&, int state, LPEXTRACTINGINFOEX, bool& abort) {
                LibraryProgress(state);
                abort = abort || terminating_;
            });
    };
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

void TMainForm::LibraryProgress(int state) {
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

// Closing during a run closes at once, and the run stops as after a cancel: it finishes the
// file in progress (whose archive is then complete), shows no message, and the program ends
// when the run has returned to the message loop.
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

void TMainForm::ProgressInitialize(int count) {
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

}  // namespace zembrat::app
