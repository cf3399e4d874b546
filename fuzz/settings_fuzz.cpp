// The customise info store on any content of "~/sys/general.cfg", served from
// memory: lookups against a plain reading of the file, with one sxl_malloc or
// sxl_realloc made to fail during the first load, or the file missing then, and
// a clean reload.
//
// Input: one byte, the allocation to fail (0: none; 255: the file is missing at
// first); then the file's content.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "hv_ext.h"
#include "fuzz_support.h"

namespace {

using namespace hv::fuzz;

constexpr char kSettingsPath[] = "/srv/mail/sys/general.cfg";
constexpr std::size_t kPiece = 1022;  // what one read of the loader brings at most
constexpr int kEnds = 8;              // keys looked up from each end of the file
constexpr unsigned kMissing = 255;

struct Setting {
    const char *key;
    const char *value;
    bool taken;  // false: a line the loader must pass over
};

// Every line that holds an "=", in file order, and whether it states a setting:
// each read of the loader is a line of its own.
class Reading {
public:
    explicit Reading(Bytes file)
        : text_(static_cast<char *>(std::malloc(2 * file.size + 1))),
          settings_(static_cast<Setting *>(std::malloc((file.size + 1) * sizeof(Setting)))) {
        char *out = text_;
        for_each_read(file, kPiece, [&](const char *line) {
            const std::size_t length = std::strlen(line);
            std::memcpy(out, line, length + 1);
            add_line(out);
            out += length + 1;
            return true;
        });
    }
    ~Reading() {
        std::free(settings_);
        std::free(text_);
    }
    Reading(const Reading &) = delete;
    Reading &operator=(const Reading &) = delete;

    int count() const { return count_; }
    const char *key(int i) const { return settings_[i].key; }
    // The value of the last setting with this key, or null.
    const char *value(const char *key) const {
        for (int i = count_; i-- > 0;)
            if (settings_[i].taken && std::strcmp(settings_[i].key, key) == 0)
                return settings_[i].value;
        return nullptr;
    }

private:
    void add_line(char *line) {
        const bool taken = line[0] != '#' && static_cast<signed char>(line[0]) > ' ';
        line[std::strcspn(line, "\n")] = '\0';
        char *equals = std::strchr(line, '=');
        if (equals == nullptr) return;
        *equals = '\0';
        for (char *c = equals + 1; *c != '\0'; ++c)
            if (*c == '_') *c = ' ';
        settings_[count_++] = {line, equals + 1, taken && equals != line};
    }

    char *text_;
    Setting *settings_;
    int count_ = 0;
};

// What a round of lookups must find: the file's settings, none, or any part of
// them (a found value must still be a string inside the store).
enum class Expect { kFile, kNothing, kPartOfFile };

void look_up(const Reading &reading, Expect expect) {
    const char *probes[] = {"", "no such key", "EXT_MULTI_PROFILING"};
    const int count = reading.count();
    for (int i = -3; i < count; i = i == kEnds - 1 && count > 2 * kEnds ? count - kEnds : i + 1) {
        const char *key = i < 0 ? probes[i + 3] : reading.key(i);
        char *value = nullptr;
        const int found = ext_GetCustomiseInfo(key, &value);
        if (found == 1 && (value == nullptr || std::strlen(value) > kPiece))
            mismatch("ext_GetCustomiseInfo: a value outside the store");
        if (found == 0 && value != nullptr)
            mismatch("ext_GetCustomiseInfo wrote a value it did not find");
        if (expect == Expect::kPartOfFile) continue;
        const char *expected = expect == Expect::kFile ? reading.value(key) : nullptr;
        if (found != (expected != nullptr ? 1 : 0) ||
            (found == 1 && std::strcmp(value, expected) != 0))
            mismatch("ext_GetCustomiseInfo and the file differ");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    Bytes in{data, size};
    const unsigned first = take_byte(in);
    const Reading reading(in);
    if (first == kMissing) {
        hide_file(kSettingsPath);
        look_up(reading, Expect::kNothing);
        // The absence is remembered until ext_FreeInfo, even once the file is there.
        serve_file(kSettingsPath, in);
        look_up(reading, Expect::kNothing);
    } else {
        serve_file(kSettingsPath, in);
        fail_allocation(first);
        look_up(reading, first == 0 ? Expect::kFile : Expect::kPartOfFile);
        // A table that failed to grow leaves the store unloaded: this round loads again.
        fail_allocation(0);
        if (first != 0) look_up(reading, Expect::kPartOfFile);
    }
    ext_FreeInfo();
    look_up(reading, Expect::kFile);
    ext_FreeInfo();
    ext_FreeInfo();

    char *value = nullptr;
    if (ext_GetCustomiseInfo(nullptr, &value) != 0 || ext_GetCustomiseInfo("x", nullptr) != 0)
        mismatch("ext_GetCustomiseInfo with a null argument");
    ext_FreeInfo();
    forget_files();
    return 0;
}
