// The areas, the file queries, the tokens and short names; then every failure of the platform
// (support/sweep.h).

#include <linux/magic.h>

#include "prelude.h"

namespace {

using hv::test::Outcome;

// A slot takes only a path that exists; a refusal says why and leaves the slot as it was.
TEST(Areas, AlternativeAreaKeepsItsSlotOnRefusal) {
    const std::string home = hv::test::home();
    const std::string too_long = "/" + std::string(HV_EXT_PATH_MAX - 1, 'a');
    const std::tuple<int, const char *, int, int> rows[] = {
        {0, home.c_str(), 1, 0}, {2, "/tmp", 0, EINVAL}, {-1, "/tmp", 0, EINVAL},
        {0, nullptr, 0, EINVAL}, {0, too_long.c_str(), 0, ENAMETOOLONG}, {0, "/missing", 0, ENOENT}};
    for (const auto &[slot, path, result, err] : rows) {
        errno = 0;
        EXPECT_EQ(ext_SetAlternativeArea(slot, path), result) << slot << " " << (path ? path : "");
        EXPECT_EQ(errno, err) << slot;
        char buf[HV_EXT_PATH_MAX] = "";
        EXPECT_EQ(ext_GetAlternativeArea(0, buf), 1);
        EXPECT_EQ(buf, home);
    }
}

// A home area too long ends the process; an empty one is asked for again.
TEST(Areas, HomeAreaIsAskedForUntilKnown) {
    const std::string home = hv::test::home();
    const std::string longest = home + "/" + std::string(254 - home.size(), 'h');  // 255 bytes
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
    {"\n/data/uap\n", "/x/uap", "/x/uap", 2}, {nullptr, nullptr, "/usr/UAP", 2}};

class UapArea : public testing::TestWithParam<int> {};

// One process per row: the area is read once, from a first line cut at its newline.
TEST_P(UapArea, FirstLineOfTheFirstRedirectThatGivesOne) {
    const auto &[first, second, expected, opens] = kRedirects[GetParam()];
    if (second) HV_REQUIRE_REAL_ROOT();
    if (first) hv::test::write_file("/opt/morvek/bin/Uredirect", first);
    if (second) hv::test::write_file("/usr/morvek/bin/Uredirect", second);
    char buf[HV_EXT_PATH_MAX];
    ext_GetUAPPath(buf);  // the second call is answered from the cache
    EXPECT_EQ(ext_GetUAPPath(buf), 1);
    EXPECT_STREQ(buf, expected);
    EXPECT_EQ(hv::test::calls("sxl_fopen"), opens);
}

INSTANTIATE_TEST_SUITE_P(Installed, UapArea, testing::Range(0, 3));

// The sendmail path that exists, the one under /usr/slib first, whichever the name spells.
TEST(InstalledSendmail, IsThePathThatExists) {
    HV_REQUIRE_REAL_ROOT();
    for (const std::string made : {"/usr/lib/sendmail", "/usr/slib/sendmail"}) {
        hv::test::write_file(made, "");
        char out[HV_EXT_PATH_MAX];
        EXPECT_STREQ(ext_GetActualFName("/usr/slib/sendmail/x", out), (made + "/x").c_str());
    }
}

// Paths are taken as given ("~" is a directory in the home area, the working directory); a
// socket has the directory bit.
TEST(FileQueries, ExistenceAndTheStartCount) {
    hv::test::write_file("file", "x");
    ASSERT_EQ(mkdir("~", 0755), 0);
    ASSERT_EQ(mknod("sock", S_IFSOCK | 0600, 0), 0);
    const std::tuple<const char *, int, int> rows[] = {
        {"file", 0, 1}, {"sock", 1, 1}, {"~", 1, 1}, {"~/sys", 0, 0}, {nullptr, 0, 0}};
    for (const auto &[path, dexists, fexists] : rows) {
        EXPECT_EQ(ext_dexists(path), dexists) << path;
        EXPECT_EQ(ext_fexists(path), fexists) << path;
    }
    struct stat st {};
    ASSERT_EQ(stat("sys", &st), 0);
    EXPECT_EQ(ext_LastModTimeOfFile("~/sys"), st.st_mtime);
    EXPECT_EQ(ext_LastModTimeOfFile("~/none"), 0);
    EXPECT_EQ(ext_LastModTimeOfFile("~x"), 0);
    const int proc = open("/proc", O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(ext_fstype(proc), PROC_SUPER_MAGIC);
    close(proc);

    // Bytes 40 to 43 in host order, read again while they give 0, then kept.
    using namespace std::string_literals;
    const std::string pad(40, '\xee');
    const std::pair<std::string, int> counts[] = {
        {pad + "\0\0\0\0"s, 0}, {pad + "\x01\x02\0"s, 0x201}, {pad + "\x09\0\0\0"s, 0x201}};
    for (const auto &[sysdata, expected] : counts) {
        hv::test::write_file("sys/sysdata", sysdata);
        EXPECT_EQ(ext_GetSystemStartCount(), expected) << sysdata.size();
    }
}

// Exact results, component boundaries, names that are no token; every branch refuses a result
// that would not fit 256 bytes, and writes nothing.
TEST(Tokens, ResolveAndShortenExactlyOrNotAtAll) {
    const std::string home = hv::test::home(), parent = home.substr(0, home.rfind('/'));
    EXPECT_EQ(ext_GetActualFName("@/x", nullptr), nullptr) << "slot 1 is empty";
    ASSERT_EQ(ext_SetAlternativeArea(1, parent.c_str()), 1);
    const std::pair<const char *, const char *> resolved[] = {
        {"~UAP", "/usr/UAP"}, {"~UAPX/x", nullptr}, {"~", nullptr}, {"~x/y", nullptr},
        {"~/diag", "/opt/morvek/diag"}, {"~/newconfig/a", "/opt/morvek/newconfig/a"},
        {"^etc", "^etc"}, {"@spool", "@spool"}, {"/usr/slib/sendmail.cf", "/usr/slib/sendmail.cf"},
        {"/usr/lib/sendmailer", "/usr/lib/sendmailer"}};
    for (const auto &[name, expected] : resolved) {
        char out[HV_EXT_PATH_MAX] = "untouched";
        EXPECT_EQ(ext_GetActualFName(name, out), expected ? out : nullptr) << name;
        EXPECT_STREQ(out, expected ? expected : "untouched") << name;
    }
    const std::pair<std::string, std::string> limits[] = {  // a prefix, what it gives
        {"~/", home + "/"}, {"~/bin/", "/opt/morvek/bin/"}, {"~UAP/", "/usr/UAP/"},
        {"@/", parent + "/"}, {"^/", "/opt/morvek/"}, {"/plain/", "/plain/"},
        {"/usr/lib/sendmail/", "/usr/slib/sendmail/"}};
    for (const auto &[prefix, head] : limits)
        for (std::size_t length : {255u, 256u, 1000u}) {
            const std::string filler(length - head.size(), 'x');
            char out[HV_EXT_PATH_MAX] = "untouched";
            const char *result = ext_GetActualFName((prefix + filler).c_str(), out);
            EXPECT_EQ(result, length < 256 ? out : nullptr) << prefix << " " << length;
            EXPECT_EQ(out, length < 256 ? head + filler : "untouched") << prefix << " " << length;
        }
    EXPECT_EQ(ext_GetActualFName(nullptr, nullptr), nullptr);
    char buf[HV_EXT_PATH_MAX] = "^/etc/x";  // resolved in place
    EXPECT_EQ(ext_GetActualFName(buf, buf), buf);
    EXPECT_STREQ(buf, "/opt/morvek/etc/x");
    const char *shared = ext_GetActualFName("^/a", nullptr);
    EXPECT_EQ(ext_FullFName("~/binx"), home + "/binx");
    EXPECT_STREQ(shared, "/opt/morvek/a") << "ext_FullFName has a buffer of its own";

    // A plain byte prefix; the home area before slot 1; a name too long gives nothing.
    const std::string mailbox = home + "box/x", slot = parent + "/y", too_long(300, 'a');
    const std::tuple<const char *, int, std::string> shortened[] = {
        {mailbox.c_str(), 1, "~box/x"}, {slot.c_str(), 1, "@/y"}, {"~/", 1, "~/"},
        {"@/z", 1, "@/z"}, {"^/z", 1, "^/z"},
        {"/elsewhere", 0, "/elsewhere"}, {"^x", 0, "^x"}, {too_long.c_str(), 0, ""}};
    for (const auto &[name, result, expected] : shortened) {
        char out[HV_EXT_PATH_MAX];
        EXPECT_EQ(ext_GetShortFName(name, out), result) << name;
        EXPECT_EQ(out, expected) << name;
    }
    EXPECT_EQ(ext_GetShortFName("~/x", nullptr), 0);
    EXPECT_EQ(ext_GetUAPPath(nullptr), 0);
    EXPECT_EQ(ext_CheckFileName("09AZaz"), 1);
    EXPECT_EQ(ext_CheckFileName("a.b"), 0);
}

char g_path[HV_EXT_PATH_MAX];

const hv::test::Case kCases[] = {
    {.label = "InstalledUapPath",
     .setup = [] { hv::test::write_file("/opt/morvek/bin/Uredirect", "/data/uap\n"); },
     .run = [] { return long{ext_GetUAPPath(g_path)}; },
     // Whatever the first call found is kept.
     .check = [](long r, const Outcome &o) {
         const std::string first = g_path;
         const bool unread = o.failed("sxl_fopen") || o.failed("sxl_fgets");
         return r == 1 && (first == "/data/uap" || (unread && first == "/usr/UAP")) &&
                ext_GetUAPPath(g_path) == 1 && first == g_path;
     }},
    // A count of 0 is not kept: the next call reads the file again.
    {.label = "StartCount",
     .setup = [] {
         hv::test::write_file("sys/sysdata", std::string(43, '\0').insert(40, "\7"));
     },
     .run = [] { return long{ext_GetSystemStartCount()}; },
     .check = [](long r, const Outcome &o) {
         const bool unread =
             o.failed("sxl_open") || o.failed("sxl_lseek") || o.failed("sxl_read");
         return (r == 7 || (unread && r == 0)) && ext_GetSystemStartCount() == 7;
     }},
};

HV_FAULT_SWEEP(kCases);

}  // namespace
