// Language codes cut into directory, language and territory, and the catalogue
// directories built from them.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "hv_ext.h"

namespace {

const std::string k40 = "abcdefghij_" + std::string(29, 'k');  // 40 characters

TEST(LanguageCodes, LanguageDirectories) {
    struct Row {
        bool null_code;
        std::string code;
        const char *dir;  // null: refused
    } rows[] = {
        {true, "", "english/us"},
        {false, "french_fr.ISO8859-1", "french/fr"},
        {false, "german", "german"},
        {false, "english.utf8", "english.utf8"},
        {false, "a.b_c.d", "a.b/c"},
        {false, "", ""},
        {false, "_", "/"},
        {false, "en_us_gb.x.y", "en/us_gb"},
        {false, "english_us.", "english/us"},
        {false, k40, "abcdefghij/kkkkkkkkkkkkkkkkkkkkkkkkkkkkk"},
        {false, k40 + ".some-long-character-set-name-that-is-cut-anyway",
         "abcdefghij/kkkkkkkkkkkkkkkkkkkkkkkkkkkkk"},
        {false, k40 + "k", nullptr},
        {false, k40 + "k.utf8", nullptr},
        {false, std::string(5000, 'x'), nullptr},
    };
    char *buffer = ext_langtodir("x_y");
    ASSERT_NE(buffer, nullptr);
    for (const Row &r : rows) {
        const std::string before = buffer;
        char *got = ext_langtodir(r.null_code ? nullptr : r.code.c_str());
        if (r.dir == nullptr) {
            EXPECT_EQ(got, nullptr) << r.code;
            EXPECT_EQ(buffer, before) << "a refused code changed the last result";
        } else {
            EXPECT_EQ(got, buffer);
            EXPECT_STREQ(buffer, r.dir) << r.code;
        }
    }
    ext_langtodir("a_b_c");
    EXPECT_STREQ(ext_langtodir(buffer), "a/b/c");
}

TEST(LanguageCodes, LanguageAndTerritoryInPlace) {
    struct Row {
        const char *code, *language, *language_territory;
    } rows[] = {
        {"english_us.utf8", "english", "english_us"},
        {"english", "english", "english"},
        {"english.utf8", "english.utf8", "english.utf8"},
        {"english_us", "english", "english_us"},
        {"a.b_c.d", "a.b", "a.b_c"},
        {"en_us_gb.x.y", "en", "en_us_gb"},
        {"_us.x", "", "_us"},
        {"", "", ""},
    };
    for (const Row &r : rows) {
        std::string a = r.code, b = r.code;
        EXPECT_EQ(ext_langtojlang(a.data()), a.data());
        EXPECT_STREQ(a.c_str(), r.language) << r.code;
        EXPECT_EQ(ext_langtolandt(b.data()), b.data());
        EXPECT_STREQ(b.c_str(), r.language_territory) << r.code;
    }
    EXPECT_EQ(ext_langtojlang(nullptr), nullptr);
    EXPECT_EQ(ext_langtolandt(nullptr), nullptr);
}

TEST(LanguageCodes, CatalogueDirectories) {
    const std::string fits(220 - 4, 'd');  // with "mail", the longest that fits
    const std::string fits_path = "/opt/morvek/server/locale/" + fits + "/mail/msgcats";
    const std::string too_long(300, 'x');
    struct Row {
        const char *dir1, *dir2;
        const char *expected;  // null: refused, the last result kept
    } rows[] = {
        {"english/us", "mail", "/opt/morvek/server/locale/english/us/mail/msgcats"},
        {"", "", "/opt/morvek/server/locale///msgcats"},
        {fits.c_str(), "mail", fits_path.c_str()},
        {fits.c_str(), "mails", nullptr},
        {"mails", fits.c_str(), nullptr},
        {too_long.c_str(), "", nullptr},
        {nullptr, "mail", nullptr},
        {"english/us", nullptr, nullptr},
    };
    char *buffer = ext_BuildCatDir("a", "b");
    ASSERT_NE(buffer, nullptr);
    for (const Row &r : rows) {
        const std::string before = buffer;
        char *got = ext_BuildCatDir(r.dir1, r.dir2);
        if (r.expected == nullptr) {
            EXPECT_EQ(got, nullptr);
            EXPECT_EQ(buffer, before);
        } else {
            EXPECT_EQ(got, buffer);
            EXPECT_STREQ(buffer, r.expected);
        }
    }
    EXPECT_EQ(fits_path.size(), 255u);
}

}  // namespace
