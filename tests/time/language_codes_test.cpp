// Language codes cut into directory, language and territory, and catalogue paths.

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "hv_ext.h"

namespace {

// A "_" ends the language, and the first "." after it begins the suffix. A directory
// of more than 40 characters is refused, leaving the last result in place.
TEST(LanguageCodes, CutIntoPiecesAndPaths) {
    const std::string k40 = "abcdefghij_" + std::string(29, 'k'), k41 = k40 + "k",
                      with_suffix = k40 + "." + std::string(60, 's');
    // The code, its directory (null: refused), its language, its language_territory.
    char *buffer = ext_langtodir("a_b_c");
    const std::tuple<const char *, const char *, std::string, std::string> rows[] = {
        {buffer, "a/b/c", "a/b/c", "a/b/c"},  // its own last result
        {"french_fr.ISO8859-1", "french/fr", "french", "french_fr"},
        {"english.utf8", "english.utf8", "english.utf8", "english.utf8"},
        {"a.b_c.d", "a.b/c", "a.b", "a.b_c"},
        {"en_us_gb.x.y", "en/us_gb", "en", "en_us_gb"},
        {with_suffix.c_str(), "abcdefghij/kkkkkkkkkkkkkkkkkkkkkkkkkkkkk", "abcdefghij", k40},
        {k41.c_str(), nullptr, "abcdefghij", k41}};
    for (const auto &[code, dir, language, territory] : rows) {
        const std::string before = buffer;
        EXPECT_EQ(ext_langtodir(code), dir ? buffer : nullptr) << code;
        EXPECT_EQ(buffer, dir ? dir : before) << code;
        std::string cut_language = code, cut_territory = code;
        EXPECT_EQ(ext_langtojlang(cut_language.data()), cut_language.data());
        EXPECT_STREQ(cut_language.c_str(), language.c_str()) << code;
        EXPECT_EQ(ext_langtolandt(cut_territory.data()), cut_territory.data());
        EXPECT_STREQ(cut_territory.c_str(), territory.c_str()) << code;
    }
    EXPECT_STREQ(ext_langtodir(nullptr), "english/us");
    EXPECT_EQ(ext_langtojlang(nullptr), nullptr);
    EXPECT_EQ(ext_langtolandt(nullptr), nullptr);

    const std::string d216(216, 'd'),  // with "mail", the most that fits 255 characters
        longest = "/opt/morvek/server/locale/" + d216 + "/mail/msgcats";
    const std::tuple<const char *, const char *, const char *> paths[] = {  // null: refused
        {"english/us", "mail", "/opt/morvek/server/locale/english/us/mail/msgcats"},
        {"", "", "/opt/morvek/server/locale///msgcats"},
        {d216.c_str(), "mail", longest.c_str()},
        {d216.c_str(), "mails", nullptr},
        {"mail", longest.c_str(), nullptr},
        {nullptr, "mail", nullptr},
        {"english/us", nullptr, nullptr}};
    char *path_buffer = ext_BuildCatDir("a", "b");
    for (const auto &[dir1, dir2, path] : paths) {
        const std::string before = path_buffer;
        EXPECT_EQ(ext_BuildCatDir(dir1, dir2), path ? path_buffer : nullptr) << dir1 << " " << dir2;
        EXPECT_EQ(path_buffer, path ? path : before) << dir1 << " " << dir2;
    }
}

}  // namespace
