#include "servers/DocumentRoot.h"

#include "support/ObeyFilePermissions.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

namespace {

TEST(RequestPath, CutsQueryAndHostAndDecodesEscapes) {
    const struct {
        std::string target;
        std::string path;
    } cases[] = {
        {"/cfg/cfg02e5d2aabbcc", "/cfg/cfg02e5d2aabbcc"},
        {"/fw/a%20b.rom", "/fw/a b.rom"},
        {"/cfg/a.xml?mac=1&x=%2F", "/cfg/a.xml"},
        {"/%41%62%2f", "/Ab/"},
        {"/100%", "/100%"},
        {"/50%zz%4", "/50%zz%4"},
        {"/a+b", "/a+b"},
        {"http://192.168.1.5:6000/cfg/a?x", "/cfg/a"},
        {"http://192.168.1.5:6000", "/"},
        {"http://192.168.1.5:6000?x=/y", "/"},
        {"cfg/x", ""},
        {"%2Fcfg/x", ""},
        {"*", ""},
        {"", ""},
        {"/a://b", "/a://b"},
        {"/%00x", std::string("/\0x", 3)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RequestPath(c.target), c.path) << c.target;
}

// Both ways of opening must keep every name inside the root.
class DocumentRootOpen : public ::testing::TestWithParam<DocumentRoot::Mode> {
  protected:
    void SetUp() override {
        dir_.write("secret", "s");
        dir_.write("root/cfg/a", "a");
        dir_.write("root/fw/v2.rom", "v2");
        QDir().mkpath(dir_.file("root/empty"));
        ASSERT_EQ(::symlink("v2.rom", dir_.file("root/fw/latest.rom").toUtf8()), 0);
        ASSERT_EQ(::symlink("../cfg", dir_.file("root/fw/cfg").toUtf8()), 0);
        ASSERT_EQ(::symlink("../secret", dir_.file("root/up").toUtf8()), 0);
        ASSERT_EQ(::symlink(dir_.file("secret").toUtf8(), dir_.file("root/abs").toUtf8()), 0);
        ASSERT_EQ(::symlink("/", dir_.file("root/top").toUtf8()), 0);
        ASSERT_EQ(::mkfifo(dir_.file("root/fifo").toUtf8(), 0600), 0);
    }
    TempDir dir_;
};

TEST_P(DocumentRootOpen, OpensRegularFilesBelowTheRootOnly) {
    const DocumentRoot root(dir_.file("root").toStdString(), GetParam());
    const struct {
        std::string path;
        bool opens;
    } cases[] = {
        {"/cfg/a", true},
        {"//cfg//a", true},
        {"/fw/latest.rom", true},
        {"/fw/cfg/a", true},
        {"/./cfg/./a", true},
        {"/cfg/missing", false},
        {"/", false},
        {"", false},
        {"/cfg", false},
        {"/empty/", false},
        {"/fifo", false},
        {"/../secret", false},
        {"/cfg/../cfg/a", false},
        {"/up", false},
        {"/abs", false},
        {"/top/etc/passwd", false},
        {"/cfg/a/", false},
        {std::string("/cfg/a\0b", 8), false},
    };
    for (const auto& c : cases) {
        int error = 0;
        off_t size = -1;
        const int fd = root.Open(c.path, &error, &size);
        EXPECT_EQ(fd >= 0, c.opens) << c.path;
        if (fd >= 0) {
            EXPECT_GT(size, 0) << c.path;
            ::close(fd);
        } else {
            EXPECT_EQ(error, ENOENT) << c.path;
        }
    }
}

// A path that opens nothing because it leads out of the root says so, whether or not anything
// is there; one that is only missing, a folder or a loop does not.
TEST_P(DocumentRootOpen, TellsWhenAPathLeadsOutOfTheRoot) {
    ASSERT_EQ(::symlink("../none", dir_.file("root/gone").toUtf8()), 0);
    ASSERT_EQ(::symlink("loop", dir_.file("root/loop").toUtf8()), 0);
    const DocumentRoot root(dir_.file("root").toStdString(), GetParam());
    const struct {
        std::string path;
        bool outside;
    } cases[] = {
        {"/up", true},
        {"/abs", true},
        {"/gone", true},
        {"/top/etc/passwd", true},
        {"/../secret", true},
        {"/cfg/../cfg/a", true},
        {std::string("/cfg/a\0b", 8), true},
        {"/cfg/missing", false},
        {"/empty/", false},
        {"/fifo", false},
        {"/loop", false},
        {"/", false},
    };
    for (const auto& c : cases) {
        int error = 0;
        OpenedFile file;
        EXPECT_LT(root.Open(c.path, &error, &file), 0) << c.path;
        EXPECT_EQ(error, ENOENT) << c.path;
        EXPECT_EQ(file.outsideRoot, c.outside) << c.path;
    }
    int error = 0;
    OpenedFile file;
    const int fd = root.Open("/fw/cfg/a", &error, &file);
    EXPECT_GE(fd, 0);
    EXPECT_FALSE(file.outsideRoot);
    ::close(fd);
}

// A link is served when the file it leads to lies below the root, however it is written, and
// refused otherwise; both ways of opening agree.
TEST_P(DocumentRootOpen, FollowsLinksThatStayBelowTheRoot) {
    // The root is named through a link of its own (as a working folder may be), so that an
    // absolute target may spell it either way.
    ASSERT_EQ(::symlink("root", dir_.file("alias").toUtf8()), 0);
    const QString real = QFileInfo(dir_.file("root")).canonicalFilePath();
    const QString alias = dir_.file("alias");
    dir_.write("outside/s.txt", "s");
    dir_.write("root2/s.txt", "s");  // beside the root, its name beginning with the root's
    const struct {
        const char* name;
        QString target;
    } links[] = {
        {"abs-real", real + "/cfg/a"},
        {"abs-alias", alias + "/cfg/a"},
        {"abs-dir", real + "/cfg"},
        {"abs-slash", real + "/cfg/"},
        {"abs-self", alias},
        {"abs-base", dir_.path() + "/"},  // the folder holding the root, outside
        {"abs-dots", real + "/cfg/../fw/v2.rom"},
        {"abs-dots-out", real + "/../secret"},
        {"abs-out", dir_.file("secret")},
        {"abs-out-dir", dir_.file("outside")},
        {"abs-prefix", dir_.file("root2/s.txt")},
        {"abs-dangling", real + "/cfg/none"},
        {"rel-around", "../root/cfg/a"},
        {"rel-around-out", "../root/../secret"},
        {"rel-beside", "../root2/s.txt"},
        {"cfg/back", "../fw/v2.rom"},
        {"cfg/up2", "../../secret"},
        {"chain1", "chain2"},
        {"chain2", alias + "/chain3"},
        {"chain3", "cfg/a"},
        {"chain-out1", "chain-out2"},
        {"chain-out2", "up"},
        {"dangling", "none"},
        {"loop1", "loop2"},
        {"loop2", "loop1"},
    };
    for (const auto& link : links)
        ASSERT_EQ(::symlink(link.target.toUtf8(), dir_.file(QString("root/") + link.name).toUtf8()),
                  0)
            << link.name;

    for (const std::string& rootPath : {dir_.file("root").toStdString(), alias.toStdString()}) {
        const DocumentRoot root(rootPath, GetParam());
        const struct {
            std::string path;
            const char* opens;  // the file's contents; nullptr: refused
        } cases[] = {
            {"/fw/latest.rom", "v2"},  // relative, inside
            {"/fw/cfg/a", "a"},        // relative, to a folder
            {"/fw/cfg", nullptr},
            {"/abs-real", "a"},
            {"/abs-alias", "a"},
            {"/abs-dir/a", "a"},
            {"/abs-dir", nullptr},
            {"/abs-slash/a", "a"},
            {"/abs-self/cfg/a", "a"},
            {"/abs-self/abs-self/abs-real", "a"},
            {"/abs-base/root/cfg/a", "a"},
            {"/abs-base/secret", nullptr},
            {"/abs-dots", "v2"},
            {"/cfg/back", "v2"},
            {"/chain1", "a"},
            {"/abs-dots-out", nullptr},
            {"/abs-out", nullptr},
            {"/abs-out-dir/s.txt", nullptr},
            {"/abs-prefix", nullptr},
            {"/abs-dangling", nullptr},
            {"/rel-around", "a"},
            {"/rel-around-out", nullptr},
            {"/rel-beside", nullptr},
            {"/up", nullptr},
            {"/abs", nullptr},
            {"/top/etc/passwd", nullptr},
            {"/cfg/up2", nullptr},
            {"/chain-out1", nullptr},
            {"/dangling", nullptr},
            {"/loop1", nullptr},
            {"/abs-real/", nullptr},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(rootPath + " " + c.path);
            int error = 0;
            const int fd = root.Open(c.path, &error);
            EXPECT_EQ(fd >= 0, c.opens != nullptr);
            if (fd >= 0) {
                char buf[16] = {};
                EXPECT_EQ(std::string(buf, size_t(::read(fd, buf, sizeof buf))), c.opens);
                ::close(fd);
            } else {
                EXPECT_EQ(error, ENOENT);
            }
        }
    }
}

// A folder is not a file, also when it cannot be read; a file that cannot be read is refused
// with the reason.
TEST_P(DocumentRootOpen, FoldersWithoutPermissionAreNotFilesUnreadableFilesAreRefused) {
    dir_.write("root/locked/inner", "i");
    dir_.write("root/private.cfg", "p");
    ASSERT_EQ(::chmod(dir_.file("root/locked").toUtf8(), 0), 0);
    ASSERT_EQ(::chmod(dir_.file("root/private.cfg").toUtf8(), 0), 0);
    ASSERT_EQ(::symlink("locked", dir_.file("root/to-locked").toUtf8()), 0);
    const struct {
        std::string path;
        int error;
    } cases[] = {
        {"/locked", ENOENT},      {"/locked/", ENOENT},      {"/to-locked", ENOENT},
        {"/private.cfg", EACCES}, {"/locked/inner", EACCES},
    };
    RunObeyingFilePermissions([&] {
        const DocumentRoot root(dir_.file("root").toStdString(), GetParam());
        for (const auto& c : cases) {
            int error = 0;
            EXPECT_LT(root.Open(c.path, &error), 0) << c.path;
            EXPECT_EQ(error, c.error) << c.path;
        }
    });
    ::chmod(dir_.file("root/locked").toUtf8(), 0700);
}

// Names with a part beginning with "." are refused whether or not they exist; a withheld file
// is refused by whatever name leads to it, also once it is written anew or renamed.
TEST_P(DocumentRootOpen, NeverOpensHiddenNamesOrWithheldFiles) {
    dir_.write("root/.htpasswd", "h");
    dir_.write("root/tls/server.key", "k");
    dir_.write("root/auth", "a");
    ASSERT_EQ(::symlink("tls/server.key", dir_.file("root/key-link").toUtf8()), 0);
    const QString real = QFileInfo(dir_.file("root")).canonicalFilePath();
    ASSERT_EQ(::symlink((real + "/tls/server.key").toUtf8(), dir_.file("root/key-abs").toUtf8()),
              0);
    ASSERT_EQ(
        ::link(dir_.file("root/tls/server.key").toUtf8(), dir_.file("root/key-hard").toUtf8()), 0);
    DocumentRoot root(dir_.file("root").toStdString(), GetParam());
    root.Withhold(
        {dir_.file("root/tls/server.key").toStdString(), dir_.file("root/auth").toStdString(), ""});
    const int hidden = DocumentRoot::kHiddenName, withheld = DocumentRoot::kWithheldFile;
    const struct {
        std::string path;
        int error;  // 0: opens
    } cases[] = {
        {"/cfg/a", 0},
        {"/./cfg/./a", 0},
        {"/.htpasswd", hidden},
        {"/.none", hidden},
        {"/cfg/.a", hidden},
        {"/.../x", hidden},
        {"/cfg/..a", hidden},
        {"/../secret", ENOENT},
        {"/tls/server.key", withheld},
        {"//tls/./server.key", withheld},
        {"/key-link", withheld},
        {"/key-abs", withheld},
        {"/key-hard", withheld},
        {"/auth", withheld},
    };
    for (const auto& c : cases) {
        int error = 0;
        OpenedFile file;
        const int fd = root.Open(c.path, &error, &file);
        EXPECT_EQ(fd >= 0, c.error == 0) << c.path;
        if (fd >= 0) {
            struct stat st {};
            ASSERT_EQ(::fstat(fd, &st), 0);
            EXPECT_EQ(file.size, st.st_size);
            EXPECT_EQ(file.inode, st.st_ino);
            EXPECT_EQ(file.mtimeNs, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec);
            ::close(fd);
        } else {
            EXPECT_EQ(error, c.error) << c.path;
        }
    }
    // Written anew under its name (a new file), and the old one renamed: both withheld.
    ASSERT_EQ(::rename(dir_.file("root/tls/server.key").toUtf8(), dir_.file("root/old").toUtf8()),
              0);
    dir_.write("root/tls/server.key", "k2");
    for (const char* path : {"/old", "/tls/server.key"}) {
        int error = 0;
        EXPECT_LT(root.Open(path, &error), 0) << path;
        EXPECT_EQ(error, withheld) << path;
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, DocumentRootOpen,
                         ::testing::Values(DocumentRoot::Mode::Beneath,
                                           DocumentRoot::Mode::PathCheck),
                         [](const auto& info) {
                             return info.param == DocumentRoot::Mode::Beneath ? "Beneath"
                                                                              : "PathCheck";
                         });

}  // namespace
