// Whole-file rewrites (replace_file_text): the new text or the old one,
// never a mix, with the file's mode, owner, links and symlinks kept.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "support.h"
#include "textfile.h"

namespace {

int replace(const std::string &path, const std::string &text, int access = O_WRONLY)
{
    return replace_file_text(path.c_str(), text.data(), text.size(), access);
}

mode_t mode_of(const std::string &path)
{
    struct stat st;
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(ReplaceFileText, ReplacesLongerAndShorterContent)
{
    unit::TempDir dir;
    unit::write_file("f", "old text\n");
    EXPECT_EQ(replace("f", "a much longer new text\n"), 0);
    EXPECT_EQ(unit::read_file("f"), "a much longer new text\n");
    EXPECT_EQ(replace("f", "short", O_RDWR), 0);
    EXPECT_EQ(unit::read_file("f"), "short");
    EXPECT_EQ(replace("f", ""), 0);
    EXPECT_EQ(unit::read_file("f"), "");
    EXPECT_EQ(unit::list_dir(dir.path()), std::vector<std::string>{"f"});
}

TEST(ReplaceFileText, CreatesAMissingFile)
{
    unit::TempDir dir;
    EXPECT_EQ(replace("new", "text"), 0);
    EXPECT_EQ(unit::read_file("new"), "text");
}

TEST(ReplaceFileText, KeepsTheMode)
{
    unit::TempDir dir;
    for (mode_t mode : {0640, 0604, 0755, 0600}) {
        SCOPED_TRACE(mode);
        unit::write_file("f", "old");
        ASSERT_EQ(chmod("f", mode), 0);
        EXPECT_EQ(replace("f", "new"), 0);
        EXPECT_EQ(mode_of("f"), mode);
        EXPECT_EQ(unit::read_file("f"), "new");
    }
}

TEST(ReplaceFileText, KeepsTheOwner)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can give a file away";
    unit::TempDir dir;
    unit::write_file("f", "old");
    ASSERT_EQ(chown("f", unit::nobody_id, unit::nobody_id), 0);
    EXPECT_EQ(replace("f", "new"), 0);
    struct stat st;
    ASSERT_EQ(stat("f", &st), 0);
    EXPECT_EQ(st.st_uid, unit::nobody_id);
    EXPECT_EQ(st.st_gid, static_cast<gid_t>(unit::nobody_id));
}

TEST(ReplaceFileText, FollowsASymlinkAndKeepsIt)
{
    unit::TempDir dir;
    ASSERT_EQ(mkdir("real", 0755), 0);
    unit::write_file("real/target", "old");
    ASSERT_EQ(symlink("real/target", "link"), 0);
    EXPECT_EQ(replace("link", "new"), 0);
    struct stat st;
    ASSERT_EQ(lstat("link", &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(unit::read_file("real/target"), "new");
    EXPECT_EQ(unit::list_dir(dir.path()).size(), 2u);
    EXPECT_EQ(unit::list_dir(dir / "real"), std::vector<std::string>{"target"});
}

TEST(ReplaceFileText, FileWithASecondHardLinkIsRewrittenInPlace)
{
    unit::TempDir dir;
    unit::write_file("f", "old text that is longer\n");
    ASSERT_EQ(link("f", "g"), 0);
    ino_t inode = unit::inode_of("f");
    EXPECT_EQ(replace("f", "new\n"), 0);
    EXPECT_EQ(unit::inode_of("f"), inode);
    EXPECT_EQ(unit::read_file("f"), "new\n");
    EXPECT_EQ(unit::read_file("g"), "new\n");
}

TEST(ReplaceFileText, DirectoryFailsAndStaysAsItWas)
{
    unit::TempDir dir;
    ASSERT_EQ(mkdir("d", 0755), 0);
    unit::write_file("d/inside", "kept");
    errno = 0;
    EXPECT_EQ(replace("d", "text"), -1);
    EXPECT_EQ(errno, EISDIR);
    EXPECT_EQ(unit::read_file("d/inside"), "kept");
    EXPECT_EQ(unit::list_dir(dir.path()), std::vector<std::string>{"d"});
}

TEST(ReplaceFileText, FileThatCannotBeOpenedFailsAndIsKept)
{
    unit::TempDir dir;
    unit::write_file("f", "old");
    ASSERT_EQ(chmod("f", 0444), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    int status = unit::run_in_child([] {
        if (geteuid() == 0 && setuid(unit::nobody_id) != 0)
            return 200;
        errno = 0;
        int r = replace("f", "new");
        return r == -1 && errno == EACCES ? 0 : 1;
    });
    if (status == 200)
        GTEST_SKIP() << "cannot drop privileges here";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(unit::read_file("f"), "old");
}

// A write that fails half-way (a full disk; here the file size limit) must
// leave the old text whole and no temporary file behind.
TEST(ReplaceFileText, FailedWriteLeavesTheOldTextWhole)
{
    unit::TempDir dir;
    unit::write_file("f", "old text\n");
    int status = unit::run_in_child([] {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim = {100, 100};
        if (setrlimit(RLIMIT_FSIZE, &lim) != 0)
            return 200;
        errno = 0;
        int r = replace("f", std::string(1000, 'n'));
        return r == -1 && errno == EFBIG ? 0 : 1;
    });
    ASSERT_NE(status, 200);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(unit::read_file("f"), "old text\n");
    EXPECT_EQ(unit::list_dir(dir.path()), std::vector<std::string>{"f"});
}

// Where no file can be made beside it, the file is rewritten where it is.
TEST(ReplaceFileText, FileInAReadOnlyDirectoryIsRewrittenInPlace)
{
    unit::TempDir dir;
    unit::write_file("f", "old text that is longer\n");
    ASSERT_EQ(chmod("f", 0666), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    ino_t inode = unit::inode_of("f");
    int status = unit::run_in_child([] {
        if (geteuid() == 0 && setuid(unit::nobody_id) != 0)
            return 200;
        return replace("f", "new\n") == 0 ? 0 : 1;
    });
    if (status == 200)
        GTEST_SKIP() << "cannot drop privileges here";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(unit::read_file("f"), "new\n");
    EXPECT_EQ(unit::inode_of("f"), inode);
}

}  // namespace
