#include <gtest/gtest.h>

#include "archives/archiver.h"
#include "archives/archiver_errors.h"
#include "archives/archiver_options.h"

namespace zembrat::archives {
namespace {

void ExpectStartState(const TArchiverOptions& options) {
    for (auto value :
         {options.a,   options.c,   options.e,   options.f,   options.h,   options.i,   options.l,
          options.m,   options.n,   options.o,   options.p,   options.r,   options.s,   options.t,
          options.u,   options.x,   options.y,   options.z,   options.jc,  options.jd,  options.je,
          options.jf,  options.jh,  options.ji,  options.jm,  options.jn,  options.jp,  options.jr,
          options.jsb, options.jsc, options.jsd, options.jse, options.jsf, options.jsl, options.jso,
          options.jss, options.jst, options.jsv, options.jsz, options.jw,  options.jyc, options.jyd,
          options.jyk, options.jyn, options.jyo, options.ga,  options.gd,  options.ge,  options.gf,
          options.gj,  options.gm,  options.gn,  options.go,  options.gp,  options.gs,  options.gu,
          options.gw}) {
        EXPECT_EQ(value, -1);
    }
    for (const auto* text : {&options.w, &options.jo, &options.job, &options.jz, &options.gr}) {
        EXPECT_TRUE(IsNoValue(*text));
    }
    EXPECT_TRUE(options.jx.empty());
    EXPECT_EQ(options.UserOptions, "");
    EXPECT_EQ(options.UserFileList, "");
    EXPECT_EQ(options.ResFileName, "");
    EXPECT_EQ(options.PackFilter, pfComponent);
    EXPECT_EQ(options.ResFileUsage, (TResFileUsage{ruOnPack, ruOnUnpack, ruOnRemoveItem}));
    EXPECT_EQ(options.ResFileUsage.Bits(), 0b0111);
}

TEST(ArchiverOptions, StartNotSetAndResetReturnsThere) {
    TArchiverOptions options;
    ExpectStartState(options);
    options.jso = 1;
    options.w = "";
    options.jx = {"*.bak"};
    options.PackFilter = pfArchiver;
    options.ResFileUsage.Include(ruOnUpdate);
    options.UserOptions = "-x";
    options.Reset();
    ExpectStartState(options);
}

TEST(ArchiverOptions, CopyOwnsItsExclusionList) {
    TArchiverOptions source;
    source.jx = {"a", "b"};
    source.gw = 2;
    source.ResFileName = "list";
    source.ResFileUsage = {ruOnUpdate};
    TArchiverOptions copy;
    source.CopyTo(copy);
    source.jx.push_back("c");
    EXPECT_EQ(copy.jx, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(copy.gw, 2);
    EXPECT_EQ(copy.ResFileName, "list");
    EXPECT_EQ(copy.ResFileUsage, TResFileUsage{ruOnUpdate});
    EXPECT_TRUE(UsesListFile(copy, ruOnUpdate));
    EXPECT_FALSE(UsesListFile(copy, ruOnPack));
}

// A driver that provides nothing but the one operation every driver must have.
class BareDriver : public TArchiver {
  public:
    int Unpack(WindowHandle, const std::string&, const TArchiverOptions&, const std::string&,
               FileItems, bool, std::string&) override {
        return 0;
    }
};

TEST(ArchiverBase, UnsupportedOperationsNameTheMissingCapability) {
    BareDriver driver;
    TArchiverOptions options;
    std::string output;
    auto message = [](auto&& operation) {
        try {
            operation();
        } catch (const EArchiver& error) {
            return std::string(error.what());
        }
        return std::string("no exception");
    };
    EXPECT_EQ(message([&] { driver.Pack(0, "a", options, "", {}, false, output); }),
              "この形式では書庫ファイルの作成をサポートしておりません。");
    EXPECT_EQ(message([&] { driver.RemoveItem(0, "a", options, "", {}, false, output); }),
              "この形式の書庫ではファイルの削除をサポートしておりません。");
    EXPECT_EQ(message([&] { driver.Update(0, "a", options, "", {}, false, output); }),
              "この形式の書庫では書庫の更新をサポートしておりません。");
    EXPECT_EQ(message([&] { driver.MakeSfx(0, "a", options, "", output); }),
              "この形式では自己解凍書庫の作成をサポートしておりません。");
    EXPECT_EQ(message([&] { driver.ExtractMem(0, "a", options, "m", nullptr, 0, nullptr); }),
              "この形式ではメモリへの展開をサポートしておりません。");
    EXPECT_EQ(message([&] { driver.CheckArchive("a", 0, 0); }),
              "この形式では書庫チェック機能をサポートしておりません。");
    EXPECT_EQ(message([&] { driver.LoadDLL(); }), "Abstract method 'TArchiver.LoadDLL' was called");
    EXPECT_EQ(message([&] { driver.EnsureDLL(); }),
              "Abstract method 'TArchiver.LoadDLL' was called");

    TArchiveEntryInfo entry{};
    EXPECT_EQ(driver.OpenArchive(0, "a", 0), 0u);
    EXPECT_EQ(driver.FindFirst(0, entry, "*"), -1);
    EXPECT_EQ(driver.FindNext(0, entry), -1);

    EXPECT_FALSE(driver.SetOwnerWindow(7, nullptr));
    EXPECT_TRUE(driver.HasOwnerWindow());
    EXPECT_FALSE(driver.KillOwnerWindow(99));
    EXPECT_FALSE(driver.HasOwnerWindow());
}

TEST(ArchiverErrors, MessagesFillIndexedPlaceholders) {
    EXPECT_EQ(FormatMessage("%0:s を扱うには %1:s が 必要です。", {"LHA 形式書庫", "UNLHA32.DLL"}),
              "LHA 形式書庫 を扱うには UNLHA32.DLL が 必要です。");
    EXPECT_EQ(FormatMessage("%1:s-%0:s-%5:s-%", {"a", "b"}), "b-a--%");
}

}  // namespace
}  // namespace zembrat::archives
