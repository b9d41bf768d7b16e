#include "servers/HttpDocumentRoot.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QDir>

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
        {"http://192.168.1.5:6000", ""},
        {"/a://b", "/a://b"},
        {"/%00x", std::string("/\0x", 3)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RequestPath(c.target), c.path) << c.target;
}

// Both ways of opening must keep every name inside the root.
class DocumentRoot : public ::testing::TestWithParam<HttpDocumentRoot::Mode> {
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

TEST_P(DocumentRoot, OpensRegularFilesBelowTheRootOnly) {
    const HttpDocumentRoot root(dir_.file("root").toStdString(), GetParam());
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

INSTANTIATE_TEST_SUITE_P(Modes, DocumentRoot,
                         ::testing::Values(HttpDocumentRoot::Mode::Beneath,
                                           HttpDocumentRoot::Mode::PathCheck),
                         [](const auto& info) {
                             return info.param == HttpDocumentRoot::Mode::Beneath ? "Beneath"
                                                                                  : "PathCheck";
                         });

}  // namespace
