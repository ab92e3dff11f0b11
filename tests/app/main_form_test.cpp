// The main window and the progress window on the offscreen Qt platform, with the dialogs
// replaced: the states and their enabled controls, the lists, deleting, the action switch,
// the anchors, and whole runs through the real LHA library started from the window.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialogButtonBox>
#include <QDir>
#include <QDropEvent>
#include <QFileSystemModel>
#include <QFontInfo>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QStyle>
#include <QTimer>
#include <QTranslator>
#include <QUrl>
#include <cstdlib>
#include <memory>

#include "app/dialogs.h"
#include "app/main_form.h"
#include "app/sub_form.h"
#include "app/ui_style.h"
#include "batch_test_support.h"

namespace zembrat::testing {
namespace {

using app::TMainForm;
using app::TSubForm;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAreArray;

// Before any QApplication exists, discovery at build time included.
const bool kOffscreen = [] { return ::setenv("QT_QPA_PLATFORM", "offscreen", 1) == 0; }();

// The screen's text size the program is tested at (built twice: the usual 96 dots per inch
// and a large text size, with the factor a desktop sets for it).
#ifdef ZEMBRAT_TEST_FONT_DPI
constexpr const char* kFontDpi = ZEMBRAT_TEST_FONT_DPI;
constexpr const char* kScreenScale = "1.5";
#else
constexpr const char* kFontDpi = "96";
constexpr const char* kScreenScale = "1";
#endif

// One application object for the whole program, gone before the exit handlers run.
class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        ::setenv("QT_FONT_DPI", kFontDpi, 1);
        ::setenv("QT_SCREEN_SCALE_FACTORS", kScreenScale, 1);
        ::setenv("XDG_CONFIG_HOME", configHome_.Path().c_str(), 1);
        app::KeepPixelLayout();  // as the program does
        app::KeepNoSettings();
        application_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override { application_.reset(); }

    // Where the toolkit would keep settings: it stays empty.
    static std::string ConfigHome() { return configHome_.Path().string(); }

  private:
    static inline TempFolder configHome_;
    int argc_ = 1;
    char name_[16] = "app_window_test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> application_;
};
// The test framework owns the environments it is given.
::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

class FakeDialogs : public app::TDialogs {
  public:
    std::optional<QStringList> OpenFiles(QWidget*) override { return files; }
    std::optional<QString> SelectFolder(QWidget*, const QString& start) override {
        folderStarts.push_back(start.toStdString());
        return folder;
    }
    void ShowMessage(QWidget*, const QString& text, const QString& detail) override {
        messages.push_back(text.toStdString());
        details.push_back(detail.toStdString());
    }
    void Beep() override { ++beeps; }

    std::optional<QStringList> files;
    std::optional<QString> folder;
    std::vector<std::string> messages;
    std::vector<std::string> details;
    std::vector<std::string> folderStarts;
    int beeps = 0;
};

class MainFormTest : public ::testing::Test {
  protected:
    MainFormTest() {
        EXPECT_TRUE(kOffscreen);
        EXPECT_EQ(QGuiApplication::platformName().toStdString(), "offscreen");
        form.SetSubForm(&sub);
    }

    // The names of the enabled controls (and the delete action).
    std::vector<std::string> Enabled() {
        std::vector<std::pair<std::string, QWidget*>> controls{
            {"SelectButton", &form.SelectButton}, {"DeleteButton", &form.DeleteButton},
            {"RadioGroup1", &form.RadioGroup1},   {"RadioGroup2", &form.RadioGroup2},
            {"uwaCheck", &form.uwaCheck},         {"upCheck", &form.upCheck},
            {"DirEdit", &form.DirEdit},           {"DirSelectButton", &form.DirSelectButton},
            {"GoButton", &form.GoButton}};
        std::vector<std::string> names;
        for (const auto& [name, control] : controls) {
            if (control->isEnabled()) {
                names.push_back(name);
            }
        }
        if (form.DeleteAction.isEnabled()) {
            names.push_back("DeleteAction");
        }
        return names;
    }

    std::vector<std::string> Lines(const QListWidget& list) const {
        std::vector<std::string> lines;
        for (int i = 0; i < list.count(); ++i) {
            lines.push_back(list.item(i)->text().toStdString());
        }
        return lines;
    }

    std::vector<int> SelectedRows() const {
        std::vector<int> rows;
        for (int i = 0; i < form.ViewListBox.count(); ++i) {
            if (form.ViewListBox.item(i)->isSelected()) {
                rows.push_back(i);
            }
        }
        return rows;
    }

    // Each control where it is expected, by its place in the parent.
    static void ExpectPlaces(const std::vector<std::pair<const QWidget*, QRect>>& places) {
        for (std::size_t row = 0; row < places.size(); ++row) {
            EXPECT_EQ(places[row].first->geometry(), places[row].second) << "row " << row + 1;
        }
    }

    void Choose(const QStringList& files) {
        dialogs.files = files;
        form.SelectButtonClick();
    }
    void ChooseFolder(const QString& folder) {
        dialogs.folder = folder;
        form.DirSelectButtonClick();
    }

    FakeDialogs dialogs;
    TMainForm form{dialogs};
    TSubForm sub{&form};
};

const std::vector<std::string> kFilesChosen{"SelectButton", "DeleteButton",    "RadioGroup1",
                                            "RadioGroup2",  "uwaCheck",        "upCheck",
                                            "DirEdit",      "DirSelectButton", "DeleteAction"};

TEST_F(MainFormTest, StartsEmptyWithOnlyFileSelection) {
    EXPECT_EQ(form.windowTitle().toStdString(), "Zembrat");
    EXPECT_EQ(form.GroupBox1.title().toStdString(), "圧縮・解凍ファイル");
    EXPECT_THAT(Enabled(), ElementsAre("SelectButton"));
    EXPECT_EQ(form.RadioGroup1.ItemIndex(), 0);
    EXPECT_EQ(form.RadioGroup2.ItemIndex(), 0);
    EXPECT_FALSE(form.uwaCheck.isChecked());
    EXPECT_FALSE(form.upCheck.isChecked());
    EXPECT_TRUE(form.FileListBox.isHidden());
    EXPECT_TRUE(form.DirEdit.isReadOnly());
    EXPECT_EQ(form.focusWidget(), &form.SelectButton);
    EXPECT_EQ(form.DeleteButton.text().toStdString(), "削除(&D)");
    EXPECT_THAT(form.ListPopupMenu.actions(), ElementsAre(&form.DeleteAction));
}

TEST_F(MainFormTest, HasTheDesignedPlacesFontsAndTabOrder) {
    EXPECT_EQ(form.size(), QSize(342, 329));
    // In screen pixels too, at any text size of the screen.
    EXPECT_EQ(form.grab().size(), QSize(342, 329)) << "at " << kFontDpi << " dpi";
    EXPECT_EQ(sub.grab().size(), QSize(284, 48)) << "at " << kFontDpi << " dpi";
    // The style's boxes and circles fit the 17-pixel controls.
    EXPECT_LE(form.style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, &form.uwaCheck),
              form.uwaCheck.height());
    EXPECT_LE(form.style()->pixelMetric(QStyle::PM_ExclusiveIndicatorHeight, nullptr,
                                        &form.RadioGroup2.Button(0)),
              form.RadioGroup2.Button(0).height());
    EXPECT_EQ(form.minimumWidth(), 342);
    EXPECT_EQ(form.maximumWidth(), 342);
    EXPECT_EQ(form.minimumHeight(), 329);
    ExpectPlaces({{&form.GroupBox1, QRect(4, 8, 334, 135)},
                  {&form.SelectButton, QRect(266, 109, 60, 22)},
                  {&form.DeleteButton, QRect(206, 117, 60, 22)},
                  {&form.GroupBox3, QRect(151, 200, 186, 49)},
                  {&form.DirSelectButton, QRect(310, 17, 20, 20)},
                  {&form.GoButton, QRect(235, 304, 105, 22)}});
    EXPECT_EQ(form.GoButton.focusPolicy(), Qt::NoFocus);

    EXPECT_EQ(form.font().pixelSize(), 12);
    EXPECT_EQ(form.ViewListBox.font().pixelSize(), 13);
    EXPECT_EQ(form.font().families().front().toStdString(), "ＭＳ Ｐゴシック");
    const std::string family = QFontInfo(form.font()).family().toStdString();
    if (family != "ＭＳ Ｐゴシック") {
        EXPECT_EQ(family, "IPAPGothic");
    }

    // The widgets that take focus with the tab key, in chain order.
    std::vector<QWidget*> chain;
    QWidget* next = &form.ViewListBox;
    do {
        if ((next->focusPolicy() & Qt::TabFocus) != 0 && form.isAncestorOf(next)) {
            chain.push_back(next);
        }
        next = next->nextInFocusChain();
    } while (next != &form.ViewListBox);
    EXPECT_THAT(
        chain, ElementsAre(&form.ViewListBox, &form.FileListBox, &form.SelectButton,
                           &form.RadioGroup1.Button(0), &form.RadioGroup1.Button(1),
                           &form.RadioGroup2.Button(0), &form.RadioGroup2.Button(1), &form.uwaCheck,
                           &form.upCheck, &form.DirEdit, &form.DeleteButton));
}

TEST_F(MainFormTest, ControlsKeepTheirEdgesWhenTheHeightGrows) {
    form.show();
    form.resize(342, 429);
    ExpectPlaces({{&form.GroupBox1, QRect(4, 8, 334, 235)},
                  {&form.ViewListBox, QRect(8, 16, 318, 191)},
                  {&form.SelectButton, QRect(266, 209, 60, 22)},
                  {&form.DeleteButton, QRect(206, 217, 60, 22)},
                  {&form.RadioGroup1, QRect(4, 249, 334, 39)},
                  {&form.GroupBox2, QRect(4, 358, 334, 41)},
                  {&form.DirEdit, QRect(4, 17, 305, 20)},
                  {&form.GoButton, QRect(235, 404, 105, 22)},
                  {&form.uwaCheck, QRect(10, 12, 170, 17)}});
}

// Where a group's frame is drawn: the group rendered without its controls, then the first
// and last rows and columns holding a long unbroken run of non-background pixels (longer
// than any stroke of the caption's letters).
QRect DrawnFrame(QWidget& group) {
    QImage image(group.size(), QImage::Format_RGB32);
    group.render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    const QRgb background = image.pixel(image.width() - 1, 0);  // right of the caption
    // The longest run of non-background pixels from (x, y) on in steps of (dx, dy).
    auto longestRun = [&](int x, int y, int dx, int dy) {
        int longest = 0;
        for (int run = 0; image.valid(x, y); x += dx, y += dy) {
            run = image.pixel(x, y) != background ? run + 1 : 0;
            longest = std::max(longest, run);
        }
        return longest;
    };
    std::vector<int> rows;
    for (int y = 0; y < image.height(); ++y) {
        if (longestRun(0, y, 1, 0) >= std::max(image.width() / 4, 20)) {
            rows.push_back(y);
        }
    }
    std::vector<int> columns;
    for (int x = 0; x < image.width(); ++x) {
        if (longestRun(x, 0, 0, 1) >= image.height() / 2) {
            columns.push_back(x);
        }
    }
    if (rows.empty() || columns.empty()) {
        return {};
    }
    return QRect(QPoint(columns.front(), rows.front()), QPoint(columns.back(), rows.back()));
}

// The frames' lines pass around the controls of the window's table, never through them.
TEST_F(MainFormTest, GroupFramesEncloseTheirControls) {
    form.show();
    for (QGroupBox* group :
         std::initializer_list<QGroupBox*>{&form.GroupBox1, &form.RadioGroup1, &form.RadioGroup2,
                                           &form.GroupBox3, &form.GroupBox2}) {
        const QRect frame = DrawnFrame(*group);
        ASSERT_TRUE(frame.isValid()) << group->title().toStdString();
        const QRect inside = frame.adjusted(1, 1, -1, -1);
        for (QWidget* control : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (control->isHidden()) {
                continue;  // FileListBox
            }
            const QRect place = control->geometry();
            EXPECT_TRUE(inside.contains(place))
                << group->title().toStdString() << ": frame top " << frame.top() << " bottom "
                << frame.bottom() << " left " << frame.left() << " right " << frame.right()
                << "; control at " << place.x() << "," << place.y() << " " << place.width() << "x"
                << place.height();
        }
    }
}

TEST_F(MainFormTest, ChoosingThreeFilesShowsTheirNamesAndEnablesTheSettings) {
    dialogs.files.reset();
    form.SelectButtonClick();  // cancelled: nothing changes
    EXPECT_THAT(Enabled(), ElementsAre("SelectButton"));

    Choose({"/d/one.txt", "/d/two.jpg", "/e/three"});
    EXPECT_THAT(Lines(form.ViewListBox), ElementsAre("one.txt", "two.jpg", "three"));
    EXPECT_THAT(Lines(form.FileListBox), ElementsAre("/d/one.txt", "/d/two.jpg", "/e/three"));
    EXPECT_EQ(form.GroupBox1.title().toStdString(), "圧縮・解凍ファイル（3）");
    EXPECT_THAT(SelectedRows(), ElementsAre(0));
    EXPECT_EQ(Enabled(), kFilesChosen);
}

TEST_F(MainFormTest, TheFolderDialogEnablesTheRunOnlyWhenConfirmed) {
    Choose({"/d/one.txt"});
    dialogs.folder.reset();
    form.DirSelectButtonClick();
    EXPECT_FALSE(form.GoButton.isEnabled());
    EXPECT_TRUE(form.DirEdit.text().isEmpty());

    ChooseFolder("/out");
    EXPECT_EQ(form.DirEdit.text().toStdString(), "/out");
    EXPECT_TRUE(form.GoButton.isEnabled());

    // Choosing again keeps the folder and the run button, and puts the action back.
    form.RadioGroup1.Button(1).click();
    dialogs.folder.reset();
    form.DirSelectButtonClick();
    Choose({"/d/two.txt"});
    EXPECT_TRUE(form.GoButton.isEnabled());
    EXPECT_EQ(form.DirEdit.text().toStdString(), "/out");
    EXPECT_EQ(form.RadioGroup1.ItemIndex(), 0);
}

TEST_F(MainFormTest, TheDeleteKeyRemovesTheSelectedLineFromBothLists) {
    Choose({"/d/one.txt", "/d/two.jpg", "/e/three"});
    form.ViewListBox.setCurrentRow(1, QItemSelectionModel::ClearAndSelect);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Delete, Qt::ShiftModifier);
    QApplication::sendEvent(&form.ViewListBox, &press);

    EXPECT_THAT(Lines(form.ViewListBox), ElementsAre("one.txt", "three"));
    EXPECT_THAT(Lines(form.FileListBox), ElementsAre("/d/one.txt", "/e/three"));
    EXPECT_EQ(form.GroupBox1.title().toStdString(), "圧縮・解凍ファイル（2）");
    EXPECT_THAT(SelectedRows(), ElementsAre(0));
}

TEST_F(MainFormTest, DeletingTheLastLineReturnsToTheEmptyState) {
    Choose({"/d/one.txt"});
    ChooseFolder("/out");
    form.upCheck.setChecked(true);
    form.RadioGroup2.SetItemIndex(1);
    form.DeleteButton.click();  // through the delete action

    EXPECT_THAT(Lines(form.ViewListBox), IsEmpty());
    EXPECT_THAT(Lines(form.FileListBox), IsEmpty());
    EXPECT_EQ(form.GroupBox1.title().toStdString(), "圧縮・解凍ファイル");
    EXPECT_TRUE(form.DirEdit.text().isEmpty());
    EXPECT_THAT(Enabled(), ElementsAre("SelectButton"));
    EXPECT_FALSE(form.upCheck.isChecked());
    EXPECT_EQ(form.RadioGroup2.ItemIndex(), 0);
}

TEST_F(MainFormTest, DecompressDisablesKindAndOptionsWithoutChangingThem) {
    Choose({"/d/one.txt"});
    form.RadioGroup2.Button(1).click();
    form.uwaCheck.setChecked(true);
    form.RadioGroup1.Button(1).click();
    EXPECT_FALSE(form.RadioGroup2.isEnabled());
    EXPECT_FALSE(form.uwaCheck.isEnabled());
    EXPECT_FALSE(form.upCheck.isEnabled());

    form.RadioGroup1.Button(0).click();
    EXPECT_TRUE(form.RadioGroup2.isEnabled());
    EXPECT_TRUE(form.uwaCheck.isEnabled());
    EXPECT_TRUE(form.upCheck.isEnabled());
    EXPECT_EQ(form.RadioGroup2.ItemIndex(), 1);
    EXPECT_TRUE(form.uwaCheck.isChecked());
    EXPECT_FALSE(form.upCheck.isChecked());
}

// The bar keeps one step per file and moves with the bytes in between; a cancel, by the
// button or by closing the window, leaves it saying that the run stops.
TEST_F(MainFormTest, TheProgressWindowCountsAndItsCancelClearsProcessing) {
    EXPECT_EQ(sub.windowTitle().toStdString(), "進行状況");
    EXPECT_EQ(sub.size(), QSize(284, 48));
    EXPECT_EQ(sub.CancelButton.text().toStdString(), "キャンセル");
    sub.ProgressInitialize(5);
    EXPECT_EQ(sub.ProgressBar.value(), 0);
    EXPECT_EQ(sub.Label1.text().toStdString(), "残り：5");
    const auto fifths = [this] {
        return 5.0 * sub.ProgressBar.value() / sub.ProgressBar.maximum();
    };
    sub.StepIt();
    EXPECT_DOUBLE_EQ(fifths(), 1.0);
    sub.SetFileFraction(0.5);
    EXPECT_GT(fifths(), 1.4);
    EXPECT_LT(fifths(), 1.6);
    sub.SetFileFraction(0.2);  // never back
    EXPECT_GT(fifths(), 1.4);
    sub.StepIt();
    EXPECT_DOUBLE_EQ(fifths(), 2.0);

    for (const bool byClosing : {false, true}) {
        sub.ProgressInitialize(5);
        form.SetProcessing(true);
        sub.Show();
        if (byClosing) {
            sub.close();
        } else {
            sub.CancelButton.click();
        }
        EXPECT_TRUE(sub.isVisible());
        EXPECT_FALSE(sub.CancelButton.isEnabled());
        EXPECT_EQ(sub.Label1.text().toStdString(), "中止しています…");
        EXPECT_FALSE(form.Processing());
        sub.SetLabel("残り：4");  // the run's count does not hide that it stops
        EXPECT_EQ(sub.Label1.text().toStdString(), "中止しています…");
        sub.Close();
        EXPECT_FALSE(sub.isVisible());
    }
}

class WindowRunTest : public MainFormTest {
  protected:
    void SetUp() override {
        for (int i = 1; i <= 5; ++i) {
            paths << QString::fromStdString(
                input.Write(std::to_string(i) + ".txt", SampleContent(i)));
        }
    }
    TempFolder input;
    TempFolder output;
    QStringList paths;
};

TEST_F(WindowRunTest, ACompletedRunLocksTheWindowThenReturnsItToEmpty) {
    REQUIRE_LHA_LIBRARY();
    Choose(paths.mid(0, 3));
    ChooseFolder(QString::fromStdString(output.Path().string()));
    std::vector<bool> lockedDuringRun;
    form.Batch().Hooks().onFile = [&](const batch::FileOutcome&) {
        lockedDuringRun.push_back(!form.ClientArea().isEnabled() && form.Running() &&
                                  sub.isVisible());
    };
    form.GoButtonClick();

    EXPECT_THAT(lockedDuringRun, ElementsAre(true, true, true));
    EXPECT_THAT(dialogs.messages, ElementsAre("3個のファイルを処理しました"));
    EXPECT_EQ(dialogs.beeps, 1);
    EXPECT_THAT(FolderNames(output.Path()), ElementsAre("1.lzh", "2.lzh", "3.lzh"));
    EXPECT_TRUE(form.ClientArea().isEnabled());
    EXPECT_FALSE(sub.isVisible());
    EXPECT_THAT(Enabled(), ElementsAre("SelectButton"));
    EXPECT_THAT(Lines(form.ViewListBox), IsEmpty());
}

// The cancel button is pressed after the second file; the run sees it when it lets pending
// events through before the third.
TEST_F(WindowRunTest, CancelInTheProgressWindowAfterTheSecondOfFive) {
    REQUIRE_LHA_LIBRARY();
    Choose(paths);
    ChooseFolder(QString::fromStdString(output.Path().string()));
    form.Batch().Hooks().onFile = [&](const batch::FileOutcome& outcome) {
        if (outcome.index == 1) {
            QTimer::singleShot(0, &sub.CancelButton, &QPushButton::click);
        }
    };
    form.GoButtonClick();

    EXPECT_THAT(dialogs.messages, ElementsAre("処理を中断しました　2個のファイルが処理済みです"));
    EXPECT_THAT(FolderNames(output.Path()), ElementsAre("1.lzh", "2.lzh"));
    EXPECT_EQ(form.ViewListBox.count(), 5);  // the selection and settings stay
    EXPECT_TRUE(form.GoButton.isEnabled());
    EXPECT_TRUE(form.ClientArea().isEnabled());
    EXPECT_FALSE(sub.isVisible());
}

// What the user does from the windows while the library packs the first of three files.
enum class UserAction { kCancel, kCloseProgress, kCloseWindow, kRunAgain, kTerminate };

struct DuringPacking {
    const char* name;
    UserAction action;
    bool progressShownAfter;  // right after the action, the first file still in progress
    bool mainShownAfter;
    std::vector<std::string> archives;
    std::vector<std::string> messages;
    int beeps;
};

class WindowDuringPackingTest : public WindowRunTest,
                                public ::testing::WithParamInterface<DuringPacking> {};

// The events get through while the library works: the windows answer at once, a cancel or a
// close stops the library at its next report (the file in progress is dropped and the old
// archive of that name kept), and no second run starts inside the first.
TEST_P(WindowDuringPackingTest, TheWindowsAnswerWhileTheLibraryPacks) {
    REQUIRE_LHA_LIBRARY();
    const DuringPacking& expected = GetParam();
    const std::string old = output.Write("1.lzh", "the old archive");
    Choose(paths.mid(0, 3));
    ChooseFolder(QString::fromStdString(output.Path().string()));
    form.uwaCheck.setChecked(true);
    int handled = 0;
    form.Batch().Hooks().onFile = [&](const batch::FileOutcome&) { ++handled; };
    bool duringFirstFile = false;
    bool progressShown = false;
    bool mainShown = false;
    // The run lets this event through before the first file; the one it posts gets
    // through only from inside the library's work on that file.
    QTimer::singleShot(0, &form, [&] {
        QTimer::singleShot(0, &form, [&] {
            duringFirstFile = form.Running() && handled == 0;
            switch (expected.action) {
                case UserAction::kCancel:
                    sub.CancelButton.click();
                    break;
                case UserAction::kCloseProgress:
                    sub.close();
                    break;
                case UserAction::kCloseWindow:
                    form.close();
                    break;
                case UserAction::kRunAgain:
                    form.GoButtonClick();
                    break;
                case UserAction::kTerminate:
                    form.Terminate();
                    break;
            }
            progressShown = sub.isVisible();
            mainShown = form.isVisible();
        });
    });
    form.show();
    form.GoButtonClick();

    EXPECT_TRUE(duringFirstFile);
    EXPECT_EQ(progressShown, expected.progressShownAfter);
    EXPECT_EQ(mainShown, expected.mainShownAfter);
    EXPECT_EQ(FolderNames(output.Path()), expected.archives);
    EXPECT_EQ(ReadFile(old) == "the old archive", expected.archives.size() == 1);
    EXPECT_EQ(dialogs.messages, expected.messages);
    EXPECT_EQ(dialogs.beeps, expected.beeps);
    EXPECT_FALSE(sub.isVisible());
}

INSTANTIATE_TEST_SUITE_P(
    Actions, WindowDuringPackingTest,
    ::testing::Values(
        // The progress window stays, saying that the run stops, until the run has ended.
        DuringPacking{"Cancel",
                      UserAction::kCancel,
                      true,
                      true,
                      {"1.lzh"},
                      {"処理を中断しました　1個のファイルが処理済みです"},
                      1},
        DuringPacking{"CloseTheProgressWindow",
                      UserAction::kCloseProgress,
                      true,
                      true,
                      {"1.lzh"},
                      {"処理を中断しました　1個のファイルが処理済みです"},
                      1},
        // Both windows go at once; the program ends when the run is back in the message loop.
        DuringPacking{
            "CloseTheMainWindow", UserAction::kCloseWindow, false, false, {"1.lzh"}, {}, 0},
        // SIGTERM, SIGHUP: as a close.
        DuringPacking{
            "TerminateTheProgram", UserAction::kTerminate, false, false, {"1.lzh"}, {}, 0},
        DuringPacking{"StartASecondRun",
                      UserAction::kRunAgain,
                      true,
                      true,
                      {"1.lzh", "2.lzh", "3.lzh"},
                      {"3個のファイルを処理しました"},
                      1}),
    [](const ::testing::TestParamInfo<DuringPacking>& info) { return info.param.name; });

TEST_F(WindowRunTest, AMissingLibraryShowsOnlyItsMessageAndKeepsTheSelection) {
    TempFolder empty;
    ScopedLibraryFolder nowhere(empty.Path().string());
    Choose(paths.mid(0, 2));
    ChooseFolder(QString::fromStdString(output.Path().string()));
    form.GoButtonClick();

    EXPECT_THAT(dialogs.messages, ElementsAre("LHA 形式書庫 を扱うには UNLHA32.DLL が 必要です。"));
    EXPECT_EQ(dialogs.beeps, 0);
    EXPECT_EQ(form.ViewListBox.count(), 2);
    EXPECT_EQ(Enabled(), [] {
        auto names = kFilesChosen;
        names.insert(names.end() - 1, "GoButton");
        return names;
    }());
    EXPECT_FALSE(sub.isVisible());
    EXPECT_THAT(FolderNames(output.Path()), IsEmpty());
}

// A missing output folder is named before the first file; nothing is made and the selection
// stays.
TEST_F(WindowRunTest, AMissingOutputFolderIsNamedAndTheSelectionKept) {
    Choose(paths.mid(0, 2));
    const std::string gone = output / "gone";
    ChooseFolder(QString::fromStdString(gone));
    form.GoButtonClick();

    EXPECT_THAT(dialogs.messages, ElementsAre("出力フォルダがありません: " + gone));
    EXPECT_EQ(dialogs.beeps, 0);
    EXPECT_EQ(form.ViewListBox.count(), 2);
    EXPECT_TRUE(form.GoButton.isEnabled());
    EXPECT_THAT(FolderNames(output.Path()), IsEmpty());
}

// Many failures: the box names ten with Japanese reasons and counts the rest; the details
// hold them all.
TEST_F(WindowRunTest, ManyFailuresFitTheScreenWithEveryOneInTheDetails) {
    REQUIRE_LHA_LIBRARY();
    QStringList damaged;
    for (int i = 0; i < 12; ++i) {
        damaged << QString::fromStdString(
            input.Write("damaged" + std::to_string(i) + ".lzh", "-lh5- not really"));
    }
    Choose(damaged);
    form.RadioGroup1.Button(1).click();
    ChooseFolder(QString::fromStdString(output.Path().string()));
    form.GoButtonClick();

    ASSERT_EQ(dialogs.messages.size(), 1u);
    const std::string& text = dialogs.messages[0];
    EXPECT_THAT(text, ::testing::StartsWith("12個のファイルを処理しました"));
    EXPECT_THAT(text, ::testing::EndsWith("\nほか 2 件"));
    EXPECT_THAT(text, ::testing::HasSubstr("damaged9.lzh ("));
    EXPECT_THAT(text, ::testing::Not(::testing::HasSubstr("damaged10.lzh")));
    EXPECT_THAT(text, ::testing::Not(::testing::ContainsRegex("[a-z]{3,} [a-z]{3,}")))
        << "the library's English reasons stay out of the window";
    EXPECT_THAT(dialogs.details[0], ::testing::HasSubstr("damaged11.lzh ("));
}

// Between the steps of the files the bar moves with the bytes of the file in progress.
TEST_F(WindowRunTest, TheBarMovesWithinALargeFile) {
    REQUIRE_LHA_LIBRARY();
    Choose({QString::fromStdString(input.Write("large.bin", SampleContent(1, 6 << 20))), paths[0]});
    ChooseFolder(QString::fromStdString(output.Path().string()));
    int handled = 0;
    form.Batch().Hooks().onFile = [&](const batch::FileOutcome&) { ++handled; };
    double mostWithinFirst = 0;
    QTimer watcher;
    watcher.setInterval(0);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (handled == 0 && sub.ProgressBar.maximum() > 0) {
            mostWithinFirst = std::max(mostWithinFirst,
                                       2.0 * sub.ProgressBar.value() / sub.ProgressBar.maximum());
        }
    });
    watcher.start();
    form.GoButtonClick();

    EXPECT_GT(mostWithinFirst, 0.0);
    EXPECT_LT(mostWithinFirst, 1.0);
    EXPECT_THAT(dialogs.messages, ElementsAre("2個のファイルを処理しました"));
}

// The folder dialog opens at the output folder, else the first file's folder, else home.
TEST_F(WindowRunTest, TheFolderDialogOpensWhereTheUserWorks) {
    dialogs.folder.reset();
    form.DirSelectButtonClick();
    Choose(paths.mid(0, 1));
    form.DirSelectButtonClick();
    ChooseFolder(QString::fromStdString(output.Path().string()));
    form.DirSelectButtonClick();
    EXPECT_THAT(dialogs.folderStarts,
                ElementsAre(QDir::homePath().toStdString(), input.Path().string(),
                            input.Path().string(), output.Path().string()));
}

// Files given to the program or dropped on the list: in their order, folders and missing
// files left out; given files replace the list and preselect decompress when all are
// archives, dropped ones are added after it.
TEST_F(WindowRunTest, FilesGivenOrDroppedAreListedInTheirOrder) {
    const QString archive = QString::fromStdString(input.Write("b.lzh", "x"));
    const QString folder = QString::fromStdString(input.Path().string());
    const QString missing = QString::fromStdString(input / "missing.txt");
    form.ChooseFiles({paths[2], folder, paths[0], missing});
    EXPECT_THAT(Lines(form.ViewListBox), ElementsAre("3.txt", "1.txt"));
    EXPECT_EQ(form.RadioGroup1.ItemIndex(), 0);
    form.ChooseFiles({archive});
    EXPECT_THAT(Lines(form.ViewListBox), ElementsAre("b.lzh"));
    EXPECT_EQ(form.RadioGroup1.ItemIndex(), 1);

    form.show();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(paths[4]), QUrl::fromLocalFile(folder),
                  QUrl::fromLocalFile(paths[1]), QUrl::fromLocalFile(archive)});
    // As the toolkit delivers a drop: an enter that the list accepts, then the drop.
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.ViewListBox.viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(form.ViewListBox.viewport(), &drop);
    EXPECT_THAT(Lines(form.ViewListBox), ElementsAre("b.lzh", "5.txt", "2.txt"));
    EXPECT_EQ(form.GroupBox1.title().toStdString(), "圧縮・解凍ファイル（3）");
    EXPECT_EQ(form.RadioGroup1.ItemIndex(), 1);  // the settings stay as they were
}

// The toolkit's dialogs speak Japanese whatever the locale, the folder dialog offers the
// usual places, and no dialog leaves a settings file behind.
TEST(ToolkitTexts, DialogsAreJapaneseAndKeepNoSettings) {
    QTranslator translator;
    if (!app::InstallJapaneseToolkitTexts(translator)) {
        GTEST_SKIP() << "the toolkit's Japanese translation is not installed";
    }
    EXPECT_NE(QCoreApplication::translate("QFileDialog", "Look in:").toStdString(), "Look in:");
    {
        app::TFolderDialog folders(nullptr, QDir::homePath());
        EXPECT_TRUE(folders.sidebarUrls().contains(QUrl::fromLocalFile(QDir::homePath())));
        folders.show();
        QApplication::processEvents();
        app::TOpenDialog files;
        files.show();
        QApplication::processEvents();
    }
    QCoreApplication::removeTranslator(&translator);
    EXPECT_THAT(FolderNames(QtEnvironment::ConfigHome()), IsEmpty());
}

// Names typed into the open dialog come back in the order typed.
TEST(OpenDialogTest, TypedNamesKeepTheirOrder) {
    TempFolder folder;
    for (const char* name : {"alpha", "charlie", "echo"}) {
        folder.Write(name);
    }
    app::TOpenDialog dialog;
    dialog.setDirectory(QString::fromStdString(folder.Path().string()));
    dialog.show();
    auto* nameField = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    auto* buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    ASSERT_TRUE(nameField != nullptr && buttons != nullptr);
    const QString typed = QStringLiteral("\"echo\" \"charlie\" \"alpha\"");
    nameField->setText(typed);
    QApplication::processEvents();
    emit nameField->textEdited(typed);
    buttons->button(QDialogButtonBox::Open)->click();

    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    std::vector<std::string> chosen;
    for (const QString& path : dialog.ChosenFiles()) {
        chosen.push_back(path.toStdString());
    }
    EXPECT_THAT(chosen, ElementsAre(folder / "echo", folder / "charlie", folder / "alpha"));
}

// The open dialog as the user works it: the files of a folder selected in its list, then
// its Open button. The dialog writes the selection into its name field, quotes included.
TEST(OpenDialogTest, AcceptsSelectedNamesHoldingDoubleQuotes) {
    TempFolder folder;
    std::vector<std::string> wanted;
    for (const char* name : {"a.txt", "b\"c.txt", "d.txt"}) {
        wanted.push_back(folder.Write(name));
    }
    app::TOpenDialog dialog;
    dialog.setDirectory(QString::fromStdString(folder.Path().string()));
    dialog.show();
    auto* view = dialog.findChild<QAbstractItemView*>(QStringLiteral("treeView"));
    auto* nameField = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    auto* buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    ASSERT_TRUE(view != nullptr && nameField != nullptr && buttons != nullptr);
    auto* files = static_cast<QFileSystemModel*>(view->model());
    // The folder is read on another thread.
    for (QDeadlineTimer deadline(10000);
         files->rowCount(view->rootIndex()) < 3 && !deadline.hasExpired();) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }

    view->setFocus();
    view->selectAll();
    QApplication::processEvents();
    ASSERT_TRUE(nameField->text().contains(QLatin1Char('"'))) << nameField->text().toStdString();
    // A refusal may come as a message box: closed, so that the test goes on to fail.
    QTimer::singleShot(3000, &dialog, [] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            box->close();
        }
    });
    buttons->button(QDialogButtonBox::Open)->click();

    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    std::vector<std::string> chosen;
    for (const QString& path : dialog.ChosenFiles()) {
        chosen.push_back(path.toStdString());
    }
    EXPECT_THAT(chosen, UnorderedElementsAreArray(wanted));
}

}  // namespace
}  // namespace zembrat::testing
