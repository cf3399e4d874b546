// The installation areas, found once and kept, the file queries made in them, and
// what the tokens fuzz target cannot reach: buffers passed twice or not at all, and
// every token's refusal of a result that would not fit a path buffer.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <tuple>
#include <utility>

#include "harness.h"
#include "hv_ext.h"
#include "seam.h"

namespace {

// A slot takes only a path that exists; a refusal says why and leaves the slot as it was.
TEST(Areas, AlternativeAreaKeepsItsSlotOnRefusal) {
    const std::string too_long = "/" + std::string(HV_EXT_PATH_MAX - 1, 'a');
    const std::tuple<int, const char *, int, int> rows[] = {
        {0, "/srv", 1, 0},         {2, "/tmp", 0, EINVAL},         {-1, "/tmp", 0, EINVAL},
        {0, nullptr, 0, EINVAL},   {0, too_long.c_str(), 0, ENAMETOOLONG},
        {0, "/missing", 0, ENOENT}};
    for (const auto &[slot, path, result, err] : rows) {
        errno = 0;
        EXPECT_EQ(ext_SetAlternativeArea(slot, path), result) << slot << " " << (path ? path : "");
        EXPECT_EQ(errno, err) << slot;
        char buf[HV_EXT_PATH_MAX] = "";
        EXPECT_EQ(ext_GetAlternativeArea(0, buf), 1);
        EXPECT_STREQ(buf, "/srv");
    }
}

// A home area too long ends the process; an empty one is asked for again.
TEST(Areas, HomeAreaIsAskedForUntilKnown) {
    const std::string longest = "/srv/" + std::string(250, 'h');
    char buf[HV_EXT_PATH_MAX];
    setenv("HV_DATADIR", (longest + "h").c_str(), 1);
    EXPECT_EXIT(ext_GetActualFName("~/x", buf), testing::ExitedWithCode(98),
                testing::Eq("[HV 28506] Which Morvek Server system?\n"));
    ASSERT_EQ(mkdir(longest.c_str(), 0755), 0);
    for (const char *dir : {"", longest.c_str(), "/elsewhere"}) {
        setenv("HV_DATADIR", dir, 1);
        EXPECT_EQ(ext_GetHomePath(buf), 1);
        EXPECT_EQ(buf, dir[0] == '\0' ? "" : longest);
    }
    EXPECT_EQ(ext_CdToHome(), 1);
    EXPECT_EQ(getcwd(buf, sizeof buf), longest);
    ASSERT_EQ(rmdir(longest.c_str()), 0);
    EXPECT_EQ(ext_CdToHome(), 0);
}

// Uredirect in /opt/morvek/bin, in /usr/morvek/bin (null: absent), the UAP area, and
// how many files are opened to find it.
const std::tuple<const char *, const char *, const char *, long> kRedirects[] = {
    {" /data/uap \r\n/other\n", "/x/uap\n", " /data/uap \r", 1},
    {"\n/data/uap\n", "/x/uap", "/x/uap", 2},
    {nullptr, nullptr, "/usr/UAP", 2}};

class UapArea : public testing::TestWithParam<int> {};

// One process per row: the area is read once, from a first line cut at its newline.
TEST_P(UapArea, FirstLineOfTheFirstRedirectThatGivesOne) {
    const auto &[first, second, expected, opens] = kRedirects[GetParam()];
    if (second) HV_REQUIRE_WRITABLE_USR();
    if (first) hv::test::write_file("/opt/morvek/bin/Uredirect", first);
    if (second) hv::test::write_file("/usr/morvek/bin/Uredirect", second);
    char buf[HV_EXT_PATH_MAX];
    ext_GetUAPPath(buf);  // the second call is answered from the cache
    EXPECT_EQ(ext_GetUAPPath(buf), 1);
    EXPECT_STREQ(buf, expected);
    EXPECT_EQ(hv::test::calls("sxl_fopen"), opens);
}

INSTANTIATE_TEST_SUITE_P(Areas, UapArea, testing::Range(0, 3));

// Paths are taken as given ("~" is a directory here); a socket has the directory bit.
TEST(FileQueries, ExistenceAndTheStartCount) {
    hv::test::write_file("/srv/file", "x");
    ASSERT_EQ(mkdir("/srv/~", 0755), 0);
    ASSERT_EQ(chdir("/srv"), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{AF_UNIX, "/srv/sock"};
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    const std::tuple<const char *, int, int> rows[] = {
        {"/srv", 1, 1}, {"/srv/file", 0, 1}, {"/srv/none", 0, 0}, {"/srv/sock", 1, 1},
        {"~", 1, 1},    {"~/sys", 0, 0},     {"", 0, 0},          {nullptr, 0, 0}};
    for (const auto &[path, dexists, fexists] : rows) {
        EXPECT_EQ(ext_dexists(path), dexists) << path;
        EXPECT_EQ(ext_fexists(path), fexists) << path;
    }
    EXPECT_EQ(ext_LastModTimeOfFile("~x"), 0);

    // Bytes 40 to 43 in host order, read again while they give 0, then kept.
    using namespace std::string_literals;
    const std::string pad(40, '\xee');
    const std::pair<std::string, int> counts[] = {
        {"", 0}, {pad, 0}, {pad + "\0\0\0\0"s, 0},  // no file, too short, holding 0
        {pad + "\x01\x02\0"s, 0x201}, {pad + "\x09\0\0\0"s, 0x201}};
    for (const auto &[sysdata, expected] : counts) {
        if (!sysdata.empty()) hv::test::write_file("/srv/mail/sys/sysdata", sysdata);
        EXPECT_EQ(ext_GetSystemStartCount(), expected) << sysdata.size();
    }
}

constexpr char kRefused[] = "null untouched";  // null, and the buffer left alone

std::string resolve(const std::string &name) {
    char out[HV_EXT_PATH_MAX] = "untouched";
    const char *result = ext_GetActualFName(name.c_str(), out);
    return result == out ? out : result == nullptr ? "null " + std::string(out) : "elsewhere";
}

TEST(Tokens, RefusedWhereTheyWouldNotFit) {
    const std::pair<const char *, int> names[] = {
        {"abc123", 1}, {"ABC", 1}, {"", 1},   {"Z9", 1}, {"a_b", 0}, {"a-b", 0}, {"a.b", 0},
        {"a b", 0},    {"a/b", 0}, {"\x80", 0}, {"@", 0}, {"[", 0},   {"`", 0},   {"{", 0}};
    for (const auto &[name, ok] : names) EXPECT_EQ(ext_CheckFileName(name), ok) << name;

    // Every branch refuses a result that would not fit 256 bytes, and writes nothing.
    ASSERT_EQ(ext_SetAlternativeArea(1, "/opt/morvek"), 1);
    const std::pair<const char *, const char *> limits[] = {  // a prefix, what it gives
        {"~/", "/srv/mail/"}, {"~/bin/", "/opt/morvek/bin/"}, {"~UAP/", "/usr/UAP/"},
        {"@/", "/opt/morvek/"}, {"^/", "/opt/morvek/"}, {"/plain/", "/plain/"},
        {"/usr/lib/sendmail/", "/usr/slib/sendmail/"}};
    for (const auto &[prefix, head] : limits)
        for (std::size_t length : {255u, 256u, 1000u}) {
            const std::string filler(length - std::strlen(head), 'x');
            EXPECT_EQ(resolve(prefix + filler), length < 256 ? head + filler : kRefused)
                << prefix << " " << length;
        }
    EXPECT_EQ(ext_GetActualFName(nullptr, nullptr), nullptr);
    char buf[HV_EXT_PATH_MAX] = "^/etc/x";  // resolved in place
    EXPECT_EQ(ext_GetActualFName(buf, buf), buf);
    EXPECT_STREQ(buf, "/opt/morvek/etc/x");
    const char *shared = ext_GetActualFName("^/a", nullptr);
    EXPECT_STREQ(ext_FullFName("~/c"), "/srv/mail/c");
    EXPECT_STREQ(shared, "/opt/morvek/a") << "ext_FullFName has a buffer of its own";
}

}  // namespace
