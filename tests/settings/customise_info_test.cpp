// The customise info store: how its pool grows and that the file is read once per load;
// then every failure of its platform calls (support/sweep.h), with what each leaves.

#include "prelude.h"

namespace {

using hv::test::calls;
using hv::test::Outcome;
using namespace std::string_literals;

// The pool grows by 128 bytes, or by a string's length and 2 for one of 127 or more,
// whenever used + length + 1 would reach its capacity.
TEST(Store, LoadsAllocateByTheGrowthRules) {
    const std::string v124 = "k=" + std::string(124, 'v') + "\n";
    const std::tuple<std::string, long, long> rows[] = {
        {"k=" + std::string(123, 'v') + "\n", 2, 0},  // 1 + 2 + 124 < 128
        {v124, 2, 1},                                  // exactly filling the pool grows it
        {std::string(200, 'k') + "=\n" + v124, 2, 2},  // a first string of 200: 202 bytes
        {std::string(127, 'k') + "=\n" + v124, 2, 2}};  // 129 bytes, then 257
    for (const auto &[content, mallocs, reallocs] : rows) {
        hv::test::write_file("sys/general.cfg", content);
        const long malloc_before = calls("sxl_malloc"), realloc_before = calls("sxl_realloc");
        char *value = nullptr;
        EXPECT_EQ(ext_GetCustomiseInfo("k", &value), 1);
        EXPECT_EQ(ext_GetCustomiseInfo("k", &value), 1);
        EXPECT_EQ(calls("sxl_malloc") - malloc_before, mallocs) << content.size();
        EXPECT_EQ(calls("sxl_realloc") - realloc_before, reallocs) << content.size();
        ext_FreeInfo();
    }
    EXPECT_EQ(calls("sxl_fopen"), 4);
}

// Skipped: a first byte "#", blank, control or 0x80 and up; an empty key; no "=". A line over
// 1,022 characters comes as pieces, each a line of its own.
TEST(Store, TakesLinesByTheirRules) {
    hv::test::write_file("sys/general.cfg", "#c=1\n sp=1\n\tt=1\n\x01k=1\n\x80h=1\n!k=1\n=v\nnone\n"
                                            "e=a=b\nu_k=a_b\ncr=x\r\nK=up\np="s +
                                                std::string(1020, 'x') + "q=1\n");
    const std::pair<const char *, std::string> rows[] = {  // a key, its value or "-"
        {"#c", "-"}, {" sp", "-"}, {"\tt", "-"}, {"\x01k", "-"}, {"\x80h", "-"}, {"!k", "1"},
        {"", "-"}, {"none", "-"}, {"e", "a=b"}, {"u_k", "a b"}, {"cr", "x\r"}, {"k", "-"},
        {"K", "up"}, {"q", "1"}, {"p", std::string(1020, 'x')}};
    for (const auto &[key, expected] : rows) {
        char *value = nullptr;
        EXPECT_EQ(ext_GetCustomiseInfo(key, &value) ? value : "-", expected) << key;
    }
}

// Five short entries grow the table once (its first realloc); the long value grows the
// pool (its second allocation was the malloc that made it, its first realloc the growth).
// A NUL ends what one read brought: neither M nor O is a setting.
void settings() {
    hv::test::write_file("sys/general.cfg",
                         "A=1\0M=2\n\0O=3\nB=2\nC=3\nD=4\nE=5\nL="s + std::string(200, 'l') + "\n");
}

// 1 when A reads "1" and nothing past a NUL was taken, 0 when A is not found.
long lookup() {
    char *value = nullptr;
    if (ext_GetCustomiseInfo("A", &value) == 0) return 0;
    const bool past_nul = ext_GetCustomiseInfo("M", &value) || ext_GetCustomiseInfo("O", &value);
    return !past_nul && std::strcmp(value, "1") == 0 ? 1 : 2;
}

// A failed table leaves the store unloaded: the next lookup reads the file again.
// A failed pool, or a file that did not open or gave no line, is kept until freed.
bool left_as_documented(long r, const Outcome &o) {
    const bool retried = o.failed("sxl_malloc", 1) || o.failed("sxl_realloc", 1);
    const bool for_good = !retried && (o.failed("sxl_malloc", 2) || o.failed("sxl_realloc", 2) ||
                                       o.failed("sxl_fopen") || o.failed("sxl_fgets", 1));
    if (r != (retried || for_good ? 0 : 1) || lookup() != (for_good ? 0 : 1)) return false;
    ext_FreeInfo();
    return lookup() == 1;
}

const hv::test::Case kCases[] = {
    {.label = "FirstLookup", .setup = settings, .run = lookup, .check = left_as_documented},
    {.label = "FreeInfo",
     .setup = [] { settings(), lookup(); },
     .run = [] { return ext_FreeInfo(), 0L; },
     .check = [](long, const Outcome &) { return lookup() == 1; }},
};

HV_FAULT_SWEEP(kCases);

}  // namespace
