// hvext config: the customise-info settings of "~/sys/general.cfg".
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

// The C library's fgets, through a function of our own: a template argument must
// be a function whose address may be taken.
char *read_line(char *line, int size, FILE *file) {
    return std::fgets(line, size, file);
}

// The values already printed. A key's value is one pointer into the store however
// often the key appears, so it tells a repeated key.
class Printed {
public:
    Printed() = default;
    ~Printed() { std::free(values_); }
    Printed(const Printed &) = delete;
    Printed &operator=(const Printed &) = delete;

    bool contains(const char *value) const {
        for (size_t i = 0; i < count_; ++i)
            if (values_[i] == value)
                return true;
        return false;
    }
    bool add(const char *value) {
        if (count_ == capacity_) {
            size_t capacity = capacity_ ? capacity_ * 2 : 64;
            void *grown = std::realloc(values_, capacity * sizeof *values_);
            if (grown == nullptr)
                return false;
            values_ = static_cast<const char **>(grown);
            capacity_ = capacity;
        }
        values_[count_++] = value;
        return true;
    }

private:
    const char **values_ = nullptr;
    size_t count_ = 0;
    size_t capacity_ = 0;
};

int list_settings(const char *cmd) {
    char path[HV_EXT_PATH_MAX];
    if (!ext_GetActualFName(kSettingsName, path)) {
        complain(cmd, "cannot resolve '%s'", kSettingsName);
        return kExitNo;
    }
    FILE *file = std::fopen(path, "re");
    if (file == nullptr) {
        complain(cmd, "cannot read '%s': %s", path, std::strerror(errno));
        return kExitNo;
    }
    int status = kExitOk;
    Printed printed;
    // The lines as the library reads them, so that the listing finds the same keys.
    hv::lines::LineBuffer line;
    while (char *text = hv::lines::next_text<read_line>(file, line)) {
        hv::lines::Setting setting;
        if (!hv::lines::split_setting(text, setting))
            continue;
        const char *key = setting.key;
        char *value = nullptr;
        if (!ext_GetCustomiseInfo(key, &value)) {
            complain(cmd, "'%s' is in '%s' but the library did not load it", key, path);
            status = kExitNo;
            continue;
        }
        if (printed.contains(value))
            continue;
        if (!printed.add(value)) {
            complain(cmd, "out of memory");
            status = kExitNo;
            break;
        }
        std::printf("%s=%s\n", key, value);
    }
    std::fclose(file);
    return status;
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
