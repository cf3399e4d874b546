// The customise info store when memory or the file fails it: the state each
// failure leaves, and the allocations a load makes as the pool and table grow.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "harness.h"
#include "hv_ext.h"
#include "seam.h"

namespace {

using hv::test::calls;
using hv::test::Fault;
using hv::test::script;
using hv::test::write_file;

constexpr char kSettings[] = "/srv/mail/sys/general.cfg";

std::optional<std::string> lookup(const char *key) {
    char *value = nullptr;
    if (ext_GetCustomiseInfo(key, &value) == 0) return std::nullopt;
    return value;
}

TEST(Faults, TableAllocationFailureReadsNothing) {
    write_file(kSettings, "A=1\n");
    script("sxl_malloc", Fault{});
    EXPECT_EQ(lookup("A"), std::nullopt);
    EXPECT_EQ(calls("sxl_fopen"), 0);
    EXPECT_EQ(lookup("A"), "1");
    EXPECT_EQ(calls("sxl_fopen"), 1);
    EXPECT_EQ(calls("sxl_fclose"), 1);
}

// Four entries of 16 pool bytes fit the first 128-byte pool, and so would five on
// a fresh pool; appended after the failed attempt's four, they make it grow.
TEST(Faults, TableGrowthFailureLeavesTheStoreUnloaded) {
    write_file(kSettings, "K1=value_number\nK2=value_number\nK3=value_number\n"
                          "K4=value_number\nK5=value_number\n");
    script("sxl_realloc", Fault{});  // the table's first growth, at K5
    EXPECT_EQ(lookup("K1"), std::nullopt);
    EXPECT_EQ(calls("sxl_fclose"), 1);
    const long mallocs = calls("sxl_malloc");
    const long reallocs = calls("sxl_realloc");
    EXPECT_EQ(lookup("K5"), "value number");
    EXPECT_EQ(lookup("K1"), "value number");
    EXPECT_EQ(calls("sxl_fopen"), 2);
    EXPECT_EQ(calls("sxl_fclose"), 2);
    EXPECT_EQ(calls("sxl_malloc") - mallocs, 1);    // a table; the pool is kept
    EXPECT_EQ(calls("sxl_realloc") - reallocs, 2);  // the table and the pool
}

struct PoolFault {
    const char *label;
    const char *call;
    int skip;
    long frees;  // sxl_free calls up to and including ext_FreeInfo
};

void PrintTo(const PoolFault &row, std::ostream *os) { *os << row.label; }

class OutOfMemory : public testing::TestWithParam<PoolFault> {};

TEST_P(OutOfMemory, AnswersNothingUntilFreed) {
    const PoolFault &row = GetParam();
    const std::string b(200, 'b');
    write_file(kSettings, "A=1\nB=" + b + "\nC=3\n");
    script(row.call, Fault{.skip = row.skip});
    for (const char *key : {"A", "B", "C", "A"}) EXPECT_EQ(lookup(key), std::nullopt) << key;
    EXPECT_EQ(calls("sxl_fopen"), 1);
    EXPECT_EQ(calls("sxl_fclose"), 1);
    ext_FreeInfo();
    EXPECT_EQ(calls("sxl_free"), row.frees);
    EXPECT_EQ(lookup("A"), "1");
    EXPECT_EQ(lookup("B"), b);
    EXPECT_EQ(lookup("C"), "3");
    EXPECT_EQ(calls("sxl_fopen"), 2);
    EXPECT_EQ(calls("sxl_fclose"), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, OutOfMemory,
    testing::Values(PoolFault{"PoolNotCreated", "sxl_malloc", 1, 1},  // the table
                    PoolFault{"PoolNotGrown", "sxl_realloc", 0, 2}),  // old pool, table
    [](const auto &row) { return std::string(row.param.label); });

struct Unreadable {
    const char *label;
    bool open_fails;  // the file exists but cannot be opened; else it is absent
};

void PrintTo(const Unreadable &row, std::ostream *os) { *os << row.label; }

class MissingFile : public testing::TestWithParam<Unreadable> {};

TEST_P(MissingFile, CountsAsEmptyUntilFreed) {
    if (GetParam().open_fails) {
        write_file(kSettings, "A=1\n");
        script("sxl_fopen", Fault{.err = EACCES});
    }
    EXPECT_EQ(lookup("A"), std::nullopt);
    write_file(kSettings, "A=1\n");
    EXPECT_EQ(lookup("A"), std::nullopt);
    EXPECT_EQ(calls("sxl_fopen"), 1);
    ext_FreeInfo();
    EXPECT_EQ(lookup("A"), "1");
    EXPECT_EQ(calls("sxl_fopen"), 2);
    EXPECT_EQ(calls("sxl_fclose"), 1);
}

INSTANTIATE_TEST_SUITE_P(Faults, MissingFile,
                         testing::Values(Unreadable{"Absent", false},
                                         Unreadable{"OpenFails", true}),
                         [](const auto &row) { return std::string(row.param.label); });

// Allocation calls of one load, by the growth rules: the table starts with 4
// entries and grows by 4; the pool grows by 128 bytes, or by len + 2 for a string
// of 127 characters or more, whenever used + len + 1 would reach its capacity.
using Lengths = std::vector<std::pair<std::size_t, std::size_t>>;  // key, value
struct Allocations {
    long mallocs;
    long reallocs;
    bool operator==(const Allocations &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Allocations &a) {
    return os << a.mallocs << " mallocs, " << a.reallocs << " reallocs";
}

Allocations model(const Lengths &lines) {
    Allocations a{1, 0};
    std::size_t capacity = 0, used = 0, table = 4, count = 0;
    auto append = [&](std::size_t length) {
        if (capacity != 0 && used + length + 1 < capacity) {
            used += length + 1;
            return;
        }
        capacity += length < 127 ? 128 : length + 2;
        if (used == 0) {
            ++a.mallocs;
            used = 1;
        } else {
            ++a.reallocs;
        }
        used += length + 1;
    };
    for (auto [key, value] : lines) {
        if (count++ == table) {
            table += 4;
            ++a.reallocs;
        }
        append(key);
        append(value);
    }
    return a;
}

Allocations load(const Lengths &lines) {
    std::string content;
    for (auto [key, value] : lines) content += std::string(key, 'k') + '=' + std::string(value, 'v') + '\n';
    ext_FreeInfo();
    write_file(kSettings, content);
    const Allocations before{calls("sxl_malloc"), calls("sxl_realloc")};
    const bool short_key = std::any_of(lines.begin(), lines.end(), [](auto l) { return l.first == 1; });
    char *value = nullptr;
    EXPECT_EQ(ext_GetCustomiseInfo("k", &value), short_key ? 1 : 0);
    return {calls("sxl_malloc") - before.mallocs, calls("sxl_realloc") - before.reallocs};
}

TEST(Growth, FollowsThePoolAndTableRules) {
    const std::pair<Lengths, Allocations> designed[] = {
        {{{1, 123}}, {2, 0}},           // 3 + 123 + 1 < 128
        {{{1, 124}}, {2, 1}},           // exactly filling the pool makes it grow
        {{{200, 0}, {1, 124}}, {2, 2}}, // a first 200-character string: 202 bytes
        {{{127, 0}, {1, 124}}, {2, 2}}, // 129 bytes, then 257
        {Lengths(5, {1, 1}), {2, 1}},   // the fifth entry grows the table
        {Lengths(9, {1, 1}), {2, 2}},
    };
    for (const auto &[lines, expected] : designed) {
        EXPECT_EQ(model(lines), expected) << lines[0].first << "," << lines[0].second;
        EXPECT_EQ(load(lines), expected) << lines[0].first << "," << lines[0].second;
    }
    std::mt19937 random(20240611);
    for (int file = 0; file < 60; ++file) {
        Lengths lines(std::uniform_int_distribution<std::size_t>(1, 12)(random));
        for (auto &[key, value] : lines) {
            key = std::uniform_int_distribution<std::size_t>(1, 300)(random);
            value = std::uniform_int_distribution<std::size_t>(0, 300)(random);
        }
        EXPECT_EQ(load(lines), model(lines)) << "file " << file;
    }
    EXPECT_EQ(calls("sxl_fopen"), calls("sxl_fclose"));
}

}  // namespace
