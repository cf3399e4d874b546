// The language-code routines and ext_BuildCatDir against their plain readings.
// Input: a language code, a NUL, dir1, a NUL, dir2. A result that would not fit
// its buffer must be refused with null, leaving the last result in place.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "hv_ext.h"
#include "fuzz_support.h"

namespace {

using hv::fuzz::mismatch;

constexpr std::size_t kLanguageDirMax = 40;
constexpr char kLocaleRoot[] = "/opt/morvek/server/locale";

// lang cut at the first "." after its first "_"; with to_dir that "_" becomes "/".
void cut_code(char *lang, bool to_dir) {
    char *underscore = std::strchr(lang, '_');
    if (underscore == nullptr) return;
    if (to_dir) *underscore = '/';
    if (char *dot = std::strchr(underscore, '.')) *dot = '\0';
}

// ext_langtodir(lang) against the plain reading; buffer is where its results go,
// and lang may be that buffer itself.
void check_langtodir(const char *lang, const char *buffer) {
    char before[kLanguageDirMax + 1];
    std::memcpy(before, buffer, sizeof before);
    hv::fuzz::Text expected({reinterpret_cast<const std::uint8_t *>(lang), std::strlen(lang)});
    cut_code(expected.get(), true);
    const char *dir = ext_langtodir(lang);
    if (std::strlen(expected.get()) > kLanguageDirMax) {
        if (dir != nullptr || std::memcmp(buffer, before, sizeof before) != 0)
            mismatch("ext_langtodir: a long code");
    } else if (dir == nullptr || std::strcmp(dir, expected.get()) != 0) {
        mismatch("ext_langtodir");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace hv::fuzz;
    Bytes in{data, size};
    const Text lang(take_part(in));
    const Text dir1(take_part(in));
    const Text dir2(in);

    const char *buffer = ext_langtodir(nullptr);
    if (std::strcmp(buffer, "english/us") != 0) mismatch("ext_langtodir(null)");
    check_langtodir(lang.get(), buffer);
    if (ext_langtodir(lang.get()) != nullptr) check_langtodir(buffer, buffer);

    const Text jlang(lang.bytes()), landt(lang.bytes()), expected(lang.bytes());
    if (char *underscore = std::strchr(expected.get(), '_')) *underscore = '\0';
    if (ext_langtojlang(jlang.get()) != jlang.get() || std::strcmp(jlang.get(), expected.get()) != 0)
        mismatch("ext_langtojlang");
    const Text landt_expected(lang.bytes());
    cut_code(landt_expected.get(), false);
    if (ext_langtolandt(landt.get()) != landt.get() ||
        std::strcmp(landt.get(), landt_expected.get()) != 0)
        mismatch("ext_langtolandt");

    const char *buffer_path = ext_BuildCatDir("english/us", "mail");
    char before[HV_EXT_PATH_MAX];
    std::memcpy(before, buffer_path, sizeof before);
    const std::size_t length =
        sizeof kLocaleRoot - 1 + std::strlen(dir1.get()) + std::strlen(dir2.get()) + 10;
    const char *path = ext_BuildCatDir(dir1.get(), dir2.get());
    if (length >= HV_EXT_PATH_MAX) {
        if (path != nullptr || std::memcmp(buffer_path, before, sizeof before) != 0)
            mismatch("ext_BuildCatDir: a long path");
        return 0;
    }
    char expected_path[HV_EXT_PATH_MAX];
    std::snprintf(expected_path, sizeof expected_path, "%s/%s/%s/msgcats", kLocaleRoot,
                  dir1.get(), dir2.get());
    if (path == nullptr || std::strcmp(path, expected_path) != 0) mismatch("ext_BuildCatDir");
    return 0;
}
