#include "zip_test_support.h"

#include <gtest/gtest.h>

#include "fixtures_dir.h"
#include "sha256.h"
#include "test_support.h"

namespace zembrat::zip::test {

namespace {

class HashingSink final : public DataSink {
  public:
    void Write(std::span<const std::byte> data) override {
        count_ += data.size();
        hash_.Update(data);
    }
    std::uint64_t Count() const { return count_; }
    std::string Digest() { return hash_.HexDigest(); }

  private:
    lha::test::Sha256 hash_;
    std::uint64_t count_ = 0;
};

}  // namespace

ReadResult ReadArchive(const std::filesystem::path& archive, const ReaderOptions& options) {
    ReadResult result;
    try {
        Reader reader(archive.string(), options);
        while (auto member = reader.Next()) {
            ReadMember read{member->name, member->kind, 0, {}, member->linkTarget, member->error};
            if (member->kind == MemberKind::kFile) {
                HashingSink sink;
                try {
                    reader.Extract(sink);
                    read.size = sink.Count();
                    read.sha256 = sink.Digest();
                } catch (const Error& error) {
                    if (error.Kind() != ErrorKind::kMember) {
                        throw;
                    }
                    read.error = error.what();
                }
            }
            result.members.push_back(std::move(read));
        }
    } catch (const Error& error) {
        result.archiveError = error.what();
    }
    return result;
}

std::map<std::string, std::string> TreeOf(const std::filesystem::path& folder) {
    std::map<std::string, std::string> tree;
    for (auto it = std::filesystem::recursive_directory_iterator(folder);
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        const std::string relative = it->path().lexically_relative(folder).string();
        if (it->is_symlink()) {
            tree[relative] = "link:" + std::filesystem::read_symlink(it->path()).string();
        } else if (it->is_directory()) {
            tree[relative] = "dir";
        } else {
            tree[relative] = "file:" + lha::test::Sha256Of(lha::test::ReadFileBytes(it->path()));
        }
    }
    return tree;
}

std::filesystem::path ZipFixturesDir() {
    return ::zembrat::testing::FixturesDir() / "zip";
}

std::map<std::string, std::string> TreeOfArchive(const std::string& archive) {
    std::map<std::string, std::string> tree;
    const ReadResult result = ReadArchive(archive);
    EXPECT_EQ(result.archiveError, "");
    for (const auto& member : result.members) {
        EXPECT_EQ(member.error, "") << member.name;
        tree[member.name] = member.kind == MemberKind::kDirectory ? "dir"
                            : member.kind == MemberKind::kSymlink ? "link:" + member.linkTarget
                                                                  : "file:" + member.sha256;
    }
    return tree;
}

std::map<std::string, std::string> TreeExtractedBy(const Peer& peer, const std::string& archive,
                                                   const std::string& folder) {
    std::filesystem::create_directories(folder);
    std::string command = peer.extract;
    command.replace(command.find("%d"), 2, lha::test::Quote(folder));
    command.replace(command.find("%a"), 2, lha::test::Quote(archive));
    std::string output;
    EXPECT_EQ(lha::test::RunCommand("LC_ALL=C.UTF-8 " + command, &output), 0) << output;
    return TreeOf(folder);
}

}  // namespace zembrat::zip::test
