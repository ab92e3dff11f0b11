// The open dialog's second filter: the archives of every kind with a driver, whatever the
// letter case of their extension, and nothing else.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QDeadlineTimer>
#include <QFileSystemModel>
#include <cstdlib>
#include <set>
#include <string>

#include "app/dialogs.h"
#include "temp_folder.h"

namespace zembrat::testing {
namespace {

// Before any QApplication exists, discovery at build time included.
const bool kOffscreen = [] { return ::setenv("QT_QPA_PLATFORM", "offscreen", 1) == 0; }();

std::set<std::string> Listed(app::TOpenDialog& dialog, int expected) {
    auto* view = dialog.findChild<QAbstractItemView*>(QStringLiteral("treeView"));
    if (view == nullptr) {
        return {};
    }
    auto* files = static_cast<QFileSystemModel*>(view->model());
    // The folder is read on another thread, and a new filter applies a moment later.
    for (QDeadlineTimer deadline(10000);
         files->rowCount(view->rootIndex()) != expected && !deadline.hasExpired();) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    QApplication::processEvents();
    std::set<std::string> names;
    for (int row = 0; row < files->rowCount(view->rootIndex()); ++row) {
        names.insert(files->index(row, 0, view->rootIndex()).data().toString().toStdString());
    }
    return names;
}

TEST(OpenDialogFilterTest, ArchivesOfEveryKindAfterEveryFile) {
    int argc = 1;
    char name[] = "open_dialog_filter_test";
    char* argv[] = {name, nullptr};
    QApplication application(argc, argv);
    TempFolder folder;
    const std::set<std::string> archives = {"a.lzh", "b.ZIP", "c.cab", "d.Arj",    "e.tar.gz",
                                            "f.rar", "g.gza", "h.BZA", "setup.EXE"};
    for (const std::string& name : archives) {
        folder.Write(name);
    }
    for (const char* other : {"notes.txt", "old.gca", "README"}) {
        folder.Write(other);
    }
    app::TOpenDialog dialog;
    ASSERT_EQ(dialog.nameFilters().size(), 2);
    EXPECT_TRUE(dialog.selectedNameFilter().startsWith(QStringLiteral("全てのファイル")))
        << "every file first";
    dialog.setDirectory(QString::fromStdString(folder.Path().string()));
    dialog.show();
    EXPECT_EQ(Listed(dialog, 12).size(), 12u);

    dialog.selectNameFilter(dialog.nameFilters().back());
    EXPECT_EQ(Listed(dialog, static_cast<int>(archives.size())), archives);
}

}  // namespace
}  // namespace zembrat::testing
