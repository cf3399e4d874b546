// hvext config: the customise-info settings of "~/sys/general.cfg".
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "../../src/internal/line_reader.h"
#include "cli.h"
#include "hv_ext.h"

namespace hvext {
namespace {

constexpr const char *kHelp =
    "Usage: hvext config [<key>...]\n"
    "\n"
    "Prints the value of each key, one per line, as the library reads it from\n"
    "~/sys/general.cfg (\"_\" in a value reads as a space; the last of duplicate\n"
    "keys wins). A key that is not set is named on stderr and the others are\n"
    "still printed; the exit status is then 1.\n"
    "\n"
    "Without a key, prints every setting as KEY=VALUE, each key once, in the order\n"
    "of its first line in the file.\n"
    "\n"
    "Options:\n"
    "  -h, --help  display this help and exit\n";

constexpr const char *kSettingsName = "~/sys/general.cfg";

struct CloseFile {
    void operator()(FILE *file) const { std::fclose(file); }
};

// The C library's fgets, through a function of our own: a template argument must
// be a function whose address may be taken.
char *read_line(char *line, int size, FILE *file) {
    return std::fgets(line, size, file);
}

// Every setting of the file, each key once, in the order of its first line and with
// the value of its last, as the library's lookup gives it. Keys are found through a
// hash table, so that a file of many keys is listed in time linear in its size.
// Strings are kept as offsets into one buffer, which moves as it grows.
class Settings {
public:
    Settings() = default;
    ~Settings() {
        std::free(text_);
        std::free(records_);
        std::free(slots_);
    }
    Settings(const Settings &) = delete;
    Settings &operator=(const Settings &) = delete;

    // The key's index, or -1 when memory ran out.
    long add(const char *key, const char *value) {
        if (!make_room())
            return -1;
        size_t slot = hash(key) & (slot_count_ - 1);
        for (; slots_[slot] != 0; slot = (slot + 1) & (slot_count_ - 1)) {
            const size_t index = slots_[slot] - 1;
            if (std::strcmp(key_of(index), key) == 0)
                return append(value, &records_[index].value) ? static_cast<long>(index) : -1;
        }
        Record &record = records_[count_];
        if (!append(key, &record.key) || !append(value, &record.value))
            return -1;
        slots_[slot] = ++count_;
        return static_cast<long>(count_ - 1);
    }

    size_t size() const { return count_; }
    const char *key_of(size_t i) const { return text_ + records_[i].key; }
    const char *value_of(size_t i) const { return text_ + records_[i].value; }

private:
    struct Record {
        size_t key;
        size_t value;
    };

    static size_t hash(const char *key) {  // 64-bit FNV-1a, folded for i386
        std::uint64_t h = 14695981039346656037ull;
        for (; *key != '\0'; ++key)
            h = (h ^ static_cast<unsigned char>(*key)) * 1099511628211ull;
        return static_cast<size_t>(h ^ h >> 32);
    }

    template <typename T>
    static bool grow(T **items, size_t *capacity, size_t wanted) {
        if (wanted <= *capacity)
            return true;
        size_t larger = *capacity ? *capacity : 64;
        while (larger < wanted) {
            if (larger > SIZE_MAX / 2 / sizeof(T))
                return false;
            larger *= 2;
        }
        void *grown = std::realloc(*items, larger * sizeof(T));
        if (grown == nullptr)
            return false;
        *items = static_cast<T *>(grown);
        *capacity = larger;
        return true;
    }

    // Room for one more record, and a table at most half full.
    bool make_room() {
        if (!grow(&records_, &capacity_, count_ + 1))
            return false;
        if (2 * (count_ + 1) <= slot_count_)
            return true;
        const size_t larger = slot_count_ ? 2 * slot_count_ : 128;
        auto *slots = static_cast<size_t *>(std::calloc(larger, sizeof(size_t)));
        if (slots == nullptr)
            return false;
        for (size_t i = 0; i < count_; ++i) {
            size_t slot = hash(key_of(i)) & (larger - 1);
            while (slots[slot] != 0)
                slot = (slot + 1) & (larger - 1);
            slots[slot] = i + 1;
        }
        std::free(slots_);
        slots_ = slots;
        slot_count_ = larger;
        return true;
    }

    bool append(const char *string, size_t *offset) {
        const size_t length = std::strlen(string) + 1;
        if (!grow(&text_, &text_capacity_, text_used_ + length))
            return false;
        std::memcpy(text_ + text_used_, string, length);
        *offset = text_used_;
        text_used_ += length;
        return true;
    }

    char *text_ = nullptr;
    size_t text_used_ = 0;
    size_t text_capacity_ = 0;
    Record *records_ = nullptr;
    size_t count_ = 0;
    size_t capacity_ = 0;
    size_t *slots_ = nullptr;  // record index + 1; 0 is a free slot
    size_t slot_count_ = 0;    // 0 or a power of two
};

// Reads the file with the library's rule for its lines, not through the library:
// its lookups scan the whole store, so one per key would make the listing
// quadratic in the number of keys.
// The index of the key of the last setting read is left in *last (-1: none).
int read_settings(const char *cmd, const char *path, Settings *settings, long *last) {
    const std::unique_ptr<FILE, CloseFile> file(std::fopen(path, "re"));
    if (!file) {
        complain(cmd, "cannot read '%s': %s", path, std::strerror(errno));
        return kExitNo;
    }
    int status = kExitOk;
    hv::lines::LineBuffer line;
    while (char *text = hv::lines::next_text<read_line>(file.get(), line)) {
        hv::lines::Setting setting;
        if (!hv::lines::split_setting(text, setting))
            continue;
        hv::lines::spaces_for_underscores(setting.value);
        const long index = settings->add(setting.key, setting.value);
        if (index < 0) {
            complain(cmd, "out of memory");
            status = kExitNo;
            break;
        }
        *last = index;
    }
    return status;
}

int list_settings(const char *cmd) {
    char path[HV_EXT_PATH_MAX];
    if (!ext_GetActualFName(kSettingsName, path)) {
        complain(cmd, "cannot resolve '%s'", kSettingsName);
        return kExitNo;
    }
    Settings settings;
    long last = -1;
    if (int status = read_settings(cmd, path, &settings, &last); status != kExitOk)
        return status;
    // One lookup shows that the library loaded the file as well, and reads it alike.
    char *value = nullptr;
    if (last >= 0) {
        const char *key = settings.key_of(static_cast<size_t>(last));
        if (!ext_GetCustomiseInfo(key, &value)) {
            complain(cmd, "'%s' is in '%s' but the library did not load it", key, path);
            return kExitNo;
        }
        if (std::strcmp(value, settings.value_of(static_cast<size_t>(last))) != 0) {
            complain(cmd, "'%s' changed while it was read", path);
            return kExitNo;
        }
    }
    for (size_t i = 0; i < settings.size(); ++i)
        std::printf("%s=%s\n", settings.key_of(i), settings.value_of(i));
    return kExitOk;
}

bool print_setting(const char *cmd, const char *key) {
    char *value = nullptr;
    if (!ext_GetCustomiseInfo(key, &value)) {
        complain(cmd, "no setting '%s'", key);
        return false;
    }
    std::puts(value);
    return true;
}

}  // namespace

int cmd_config(int argc, char **argv) {
    return run_operands(argc, argv, kHelp, "key", print_setting, list_settings);
}

}  // namespace hvext
