// File-name tokens expanded into paths under the sandbox's areas, and shortened back.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <utility>

#include "harness.h"
#include "hv_ext.h"

namespace {

constexpr char kRefused[] = "null untouched";  // null, and the buffer left alone

std::string resolve(const std::string &name) {
    char out[HV_EXT_PATH_MAX] = "untouched";
    const char *result = ext_GetActualFName(name.c_str(), out);
    return result == out ? out : result == nullptr ? "null " + std::string(out) : "elsewhere";
}

// Shortening tries the home area first; both areas match as plain byte prefixes.
TEST(Tokens, ShortenedAndExpanded) {
    EXPECT_EQ(resolve("@/spool/x"), kRefused) << "slot 1 is still empty";
    const std::string x245(245, 'x');
    // Home and alternative area to set first (null: as they are), name, result, out.
    const std::tuple<const char *, const char *, std::string, int, std::string> rows[] = {
        {"", nullptr, x245 + "1234567890", 0, x245 + "1234567890"},  // empty home: all match
        {hv::test::kHome, nullptr, "/opt/morvek/x", 0, "/opt/morvek/x"},
        {nullptr, "/opt/morvek", "/opt/morvek/spool/x", 1, "@/spool/x"},
        {nullptr, nullptr, "/opt/morvekian/x", 1, "@ian/x"},
        {nullptr, nullptr, "/srv/mail/sys/general.cfg", 1, "~/sys/general.cfg"},
        {nullptr, nullptr, "/srv/mail", 1, "~"},
        {nullptr, nullptr, "/srv/mailbox/x", 1, "~box/x"},
        {nullptr, nullptr, "^/x", 1, "^/x"},
        {nullptr, nullptr, "/srv/mail/" + x245, 1, "~/" + x245},
        {nullptr, nullptr, "/srv/mail/" + x245 + "x", 0, ""},
        {nullptr, hv::test::kHome, "/srv/mail/x", 1, "~/x"},
    };
    for (const auto &[home, alt, name, result, expected] : rows) {
        if (home) setenv("HV_DATADIR", home, 1);
        ASSERT_TRUE(alt == nullptr || ext_SetAlternativeArea(1, alt) == 1) << alt;
        char out[HV_EXT_PATH_MAX] = "garbage";
        EXPECT_EQ(ext_GetShortFName(name.c_str(), out), result) << name;
        EXPECT_EQ(out, expected) << name;
    }
    char path[] = "a/b/c", plain[] = "abc", dir[] = "a/b/", root[] = "/";
    const std::pair<char *, char *> bases[] = {
        {path, path + 4}, {plain, plain}, {dir, dir + 4}, {root, root + 1}};
    for (const auto &[name, base] : bases) EXPECT_EQ(ext_BaseName(name), base) << name;
    const std::pair<const char *, int> names[] = {
        {"abc123", 1}, {"ABC", 1}, {"", 1},   {"Z9", 1}, {"a_b", 0}, {"a-b", 0}, {"a.b", 0},
        {"a b", 0},    {"a/b", 0}, {"\x80", 0}, {"@", 0}, {"[", 0},   {"`", 0},   {"{", 0}};
    for (const auto &[name, ok] : names) EXPECT_EQ(ext_CheckFileName(name), ok) << name;

    ASSERT_EQ(ext_SetAlternativeArea(1, "/opt/morvek"), 1);
    const std::pair<const char *, const char *> cases[] = {
        {"~/sys/general.cfg", "/srv/mail/sys/general.cfg"}, {"~", kRefused},
        {"~/bin", "/opt/morvek/bin"}, {"~/binaries/x", "/srv/mail/binaries/x"},
        {"~/diag", "/opt/morvek/diag"}, {"~/diagnostics", "/srv/mail/diagnostics"},
        {"~/newconfig/a", "/opt/morvek/newconfig/a"},
        {"~/newconfig.old", "/srv/mail/newconfig.old"},
        {"~UAP", "/usr/UAP"}, {"~UAP/in/x", "/usr/UAP/in/x"}, {"~UAPX/x", kRefused},
        {"@/spool/x", "/opt/morvek/spool/x"}, {"@spool", "@spool"},
        {"^/", "/opt/morvek/"}, {"^etc", "^etc"}, {"relative/name", "relative/name"}, {"", ""},
        {"/usr/lib/sendmail.cf", "/usr/lib/sendmail.cf"},
        {"/usr/slib/sendmailer", "/usr/slib/sendmailer"},
    };
    for (const auto &[name, expected] : cases) EXPECT_EQ(resolve(name), expected) << name;

    // Every branch refuses a result that would not fit 256 bytes, and writes nothing.
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

// Which sendmail exists decides, asked on every call, whichever name was spelled.
TEST(Tokens, SendmailIsTheFirstThatExists) {
    HV_REQUIRE_WRITABLE_USR();
    hv::test::remove_path("/usr/slib/sendmail");
    hv::test::remove_path("/usr/lib/sendmail");
    EXPECT_EQ(resolve("/usr/lib/sendmail/"), "/usr/slib/sendmail/");
    hv::test::write_file("/usr/lib/sendmail", "");
    EXPECT_EQ(resolve("/usr/slib/sendmail/x"), "/usr/lib/sendmail/x");
    hv::test::write_file("/usr/slib/sendmail", "");
    EXPECT_EQ(resolve("/usr/lib/sendmail"), "/usr/slib/sendmail");
}

}  // namespace
