// The one writer of files people keep, against the targets that hurt: a full
// file system, device nodes, links, a directory.
#include "atomicfile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include <dirent.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string contents(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), {} };
}

int entries(const std::string &dir)
{
    int n = 0;
    if (DIR *d = opendir(dir.c_str())) {
        while (const dirent *e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

class AtomicFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char name[] = "/tmp/tst_atomicfile.XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
    }
    void TearDown() override
    {
        if (mounted)
            umount(dir.c_str());
        std::system(("rm -rf '" + dir + "'").c_str());
    }
    std::string dir;
    bool mounted = false;
};

TEST_F(AtomicFile, ReplacesRegularFilesKeepsLinksAndWritesDevicesDirectly)
{
    const std::string file = dir + "/kept.json";
    ASSERT_EQ(zem::files::writeFile(file, "old"), "");
    chmod(file.c_str(), 0640);
    EXPECT_EQ(zem::files::writeFile(file, "new"), "");
    EXPECT_EQ(contents(file), "new");
    struct stat st
    {
    };
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "the new file keeps the old one's mode";

    // A link stays a link; the file it names is replaced.
    const std::string link = dir + "/link.json";
    ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
    EXPECT_EQ(zem::files::writeFile(link, "through the link"), "");
    ASSERT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(contents(file), "through the link");

    // Device nodes are written, never replaced.
    EXPECT_EQ(zem::files::writeFile("/dev/null", "gone"), "");
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    const std::string full = zem::files::writeFile("/dev/full", std::string(1 << 16, 'x'));
    EXPECT_NE(full.find("/dev/full"), std::string::npos) << full;
    EXPECT_NE(full.find(std::strerror(ENOSPC)), std::string::npos) << full;

    // A directory cannot be written; nothing is left beside it.
    EXPECT_NE(zem::files::writeFile(dir, "x"), "");
    EXPECT_EQ(entries(dir), 2);
}

TEST_F(AtomicFile, FullFileSystemKeepsTheOldFile)
{
    if (geteuid() != 0 || mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
    mounted = true;
    const std::string file = dir + "/m.csv";
    ASSERT_EQ(zem::files::writeFile(file, "kept"), "");
    const std::string error = zem::files::writeFile(file, std::string(1 << 20, 'x'));
    EXPECT_NE(error.find(file), std::string::npos) << error;
    EXPECT_NE(error.find(std::strerror(ENOSPC)), std::string::npos) << error;
    EXPECT_EQ(contents(file), "kept");
    EXPECT_EQ(entries(dir), 1) << "the temporary file is gone";

    // Writing piece by piece fails the same way, at commit.
    zem::files::AtomicFile f(file);
    ASSERT_EQ(f.open(), "");
    for (int i = 0; i < 64; ++i)
        f.write(std::string(1 << 12, 'y'));
    EXPECT_NE(f.commit(), "");
    EXPECT_EQ(contents(file), "kept");
    EXPECT_EQ(entries(dir), 1);
}

} // namespace
