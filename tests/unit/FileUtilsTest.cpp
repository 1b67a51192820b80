#include <unistd.h>

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

#include "common/err/Errors.h"
#include "common/util/FileUtils.h"
#include "tests/support/ScratchFiles.h"

namespace {

namespace fs = std::filesystem;

class FileUtils : public ::testing::Test {
protected:
    std::string PathOf(const std::string& relative) const { return root_ / relative; }

    void Write(const std::string& relative, const std::string& content) const {
        scratch::WriteFile(PathOf(relative), content);
    }

    scratch::ScratchFolder root_;
};

TEST_F(FileUtils, ExistsSizeAndDeleteTakeOnlyFilesThatAreThere) {
    Write("sized.bin", std::string(1234, 'z'));
    EXPECT_TRUE(util::FileExists(PathOf("sized.bin")));
    EXPECT_FALSE(util::FileExists(root_.Path().string())) << "a folder is not a file";
    EXPECT_EQ(util::GetFileSize(PathOf("sized.bin")), 1234u);
    EXPECT_TRUE(util::DeleteFile(PathOf("sized.bin")));
    EXPECT_FALSE(util::FileExists(PathOf("sized.bin")));
    try {
        util::DeleteFile(PathOf("sized.bin"));
        FAIL() << "deleting a missing file must raise";
    } catch (const util::CFileIOError& e) {
        EXPECT_STREQ(e.Message(), "Delete failed - target does not exist");
    }
    try {
        util::GetFileSize(PathOf("sized.bin"));
        FAIL() << "a missing file has no size";
    } catch (const util::CFileIOError& e) {
        EXPECT_STREQ(e.Message(), "File not found ");
    }
}

TEST_F(FileUtils, CreateDirectoryPathMakesTheFoldersButNotTheFileUnlessAFileIsInTheWay) {
    ASSERT_TRUE(util::CreateDirectoryPath(PathOf("a/b/file.log")));
    EXPECT_TRUE(fs::is_directory(PathOf("a/b")));
    EXPECT_FALSE(fs::exists(PathOf("a/b/file.log")));
    EXPECT_TRUE(util::CreateDirectoryPath(PathOf("a/b/again.log"))) << "existing folders are fine";
    EXPECT_TRUE(util::CreateDirectoryPath("\"" + PathOf("q/r/x.txt") + "\""));
    EXPECT_TRUE(fs::is_directory(PathOf("q/r")));
    EXPECT_TRUE(util::CreateDirectoryPath("bare-name.txt"));
    Write("blocker", "x");
    EXPECT_FALSE(util::CreateDirectoryPath(PathOf("blocker/inner/deeper/file")));
    EXPECT_FALSE(util::CreateDirectoryPath(std::string(5000, 'a') + "/x"));
}

TEST_F(FileUtils, CreateNewFileReplacesAnExistingFileWithAnEmptyOne) {
    fs::create_directories(PathOf("sub"));
    Write("sub/old.log", "previous content");
    ::chmod(PathOf("sub/old.log").c_str(), 0444);
    {
        sys::FileDescriptor file = util::CreateNewFile("\"" + PathOf("sub/old.log") + "\"");
        ASSERT_TRUE(file.IsOpen());
        ASSERT_EQ(::write(file.Get(), "new", 3), 3);
    }
    EXPECT_EQ(util::GetFileSize(PathOf("sub/old.log")), 3u);
    sys::FileDescriptor fresh = util::CreateNewFile(PathOf("x/y/z.log"));
    EXPECT_TRUE(fresh.IsOpen());
    EXPECT_EQ(util::GetFileSize(PathOf("x/y/z.log")), 0u);
}

TEST_F(FileUtils, CreateNewFileRaisesWhenItsFolderCannotBeMade) {
    Write("blocker", "x");
    try {
        util::CreateNewFile(PathOf("blocker/inner/file.log"));
        FAIL() << "a file in the way of the folders must raise";
    } catch (const util::CFileIOError& e) {
        EXPECT_STREQ(e.Message(), "Error creating File, CreateDirectoryPath() failed.");
        EXPECT_EQ(e.Line(), 317);
    }
    try {
        util::CreateNewFile(PathOf("blocker/"));
        FAIL() << "a path that names no file must raise";
    } catch (const util::CFileIOError& e) {
        EXPECT_STREQ(e.Message(), "Error creating File, ::CreateFile() failed.");
        EXPECT_EQ(e.Line(), 327);
    }
}

TEST(SplitPath, SplitsAtTheLastSlashOfEitherKind) {
    std::string folder = "unchanged";
    std::string name = "unchanged";
    util::SplitPath("C:\\Program Files\\Corvane/wardex.exe", folder, name);
    EXPECT_EQ(folder, "C:\\Program Files\\Corvane");
    EXPECT_EQ(name, "wardex.exe");
    util::SplitPath("/opt/corvane\\bin/", folder, name);
    EXPECT_EQ(folder, "/opt/corvane\\bin");
    EXPECT_EQ(name, "");
    folder = name = "unchanged";
    util::SplitPath("wardex", folder, name);
    EXPECT_EQ(folder, "unchanged");
    EXPECT_EQ(name, "unchanged");
}

}  // namespace
