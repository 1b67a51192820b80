#include <filesystem>
#include <gtest/gtest.h>
#include <string>

#include "common/err/Errors.h"
#include "common/util/FileUtils.h"
#include "tests/support/ScratchFiles.h"

namespace {

namespace fs = std::filesystem;

// The message of the file error the call raises; empty when it raises none.
template <typename Call>
std::string FileError(Call call) {
    try {
        call();
    } catch (const util::CFileIOError& e) {
        return e.Message();
    }
    return "";
}

TEST(FileUtils, ExistsSizeAndDeleteTakeOnlyFilesThatAreThere) {
    scratch::ScratchFolder root;
    scratch::WriteFile(root / "sized.bin", std::string(1234, 'z'));
    EXPECT_FALSE(util::FileExists(root.Path().string())) << "a folder is not a file";
    EXPECT_EQ(util::GetFileSize(root / "sized.bin"), 1234u);
    EXPECT_TRUE(util::DeleteFile(root / "sized.bin"));
    EXPECT_FALSE(util::FileExists(root / "sized.bin"));
    EXPECT_EQ(FileError([&] { util::DeleteFile(root / "sized.bin"); }),
              "Delete failed - target does not exist");
    EXPECT_EQ(FileError([&] { util::GetFileSize(root / "sized.bin"); }), "File not found ");
}

TEST(FileUtils, CreateEmptyFileMakesItsFoldersAndReplacesAReadOnlyFile) {
    scratch::ScratchFolder root;
    ASSERT_TRUE(util::CreateDirectoryPath("\"" + root / "a/b/file.log" + "\""));
    EXPECT_TRUE(fs::is_directory(root / "a/b"));
    EXPECT_FALSE(fs::exists(root / "a/b/file.log"));
    scratch::WriteFile(root / "a/b/old.log", "previous content");
    fs::permissions(root / "a/b/old.log", fs::perms::owner_read);
    util::CreateEmptyFile("\"" + root / "a/b/old.log" + "\"");
    EXPECT_TRUE(util::FileExists(root / "a/b/old.log"));
    EXPECT_EQ(util::GetFileSize(root / "a/b/old.log"), 0u);

    scratch::WriteFile(root / "blocker", "x");
    EXPECT_FALSE(util::CreateDirectoryPath(root / "blocker/inner/file"));
    EXPECT_EQ(FileError([&] { util::CreateEmptyFile(root / "blocker/inner/file.log"); }),
              "Error creating File, CreateDirectoryPath() failed.");
    EXPECT_EQ(FileError([&] { util::CreateEmptyFile(root / "blocker/"); }),
              "Error creating File, ::CreateFile() failed.");
}

TEST(FileUtils, SplitPathSplitsAtTheLastSlashOfEitherKind) {
    std::string folder, name;
    util::SplitPath("C:\\Program Files\\Corvane/wardex.exe", folder, name);
    EXPECT_EQ(folder + "|" + name, "C:\\Program Files\\Corvane|wardex.exe");
    util::SplitPath("/opt/corvane\\bin/", folder, name);
    EXPECT_EQ(folder + "|" + name, "/opt/corvane\\bin|");
}

}  // namespace
