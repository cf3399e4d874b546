// Runs a fuzz target once on each input, without libFuzzer: each file named, and
// each file in each directory named. An input is handed over in a heap block of
// its exact size, as libFuzzer hands it, so that a read past its end is caught.
// A target that finds a fault aborts; an input that cannot be read fails the run.

#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

constexpr std::size_t kReadStep = 4096;

bool replay_file(const char *path) {
    FILE *file = std::fopen(path, "rb");
    if (file == nullptr) {
        std::perror(path);
        return false;
    }
    std::size_t size = 0;
    std::size_t capacity = kReadStep;
    auto *data = static_cast<std::uint8_t *>(std::malloc(capacity));
    for (std::size_t got; (got = std::fread(data + size, 1, capacity - size, file)) != 0;) {
        size += got;
        if (size == capacity) data = static_cast<std::uint8_t *>(std::realloc(data, capacity *= 2));
    }
    const bool read_all = std::ferror(file) == 0;
    std::fclose(file);
    if (read_all) {
        auto *exact = static_cast<std::uint8_t *>(std::malloc(size != 0 ? size : 1));
        if (size != 0) std::memcpy(exact, data, size);
        LLVMFuzzerTestOneInput(exact, size);
        std::free(exact);
    } else {
        std::fprintf(stderr, "%s: read error\n", path);
    }
    std::free(data);
    return read_all;
}

// The regular files of a directory; false when it cannot be read or holds none.
bool replay_directory(const char *path, int &count) {
    DIR *dir = opendir(path);
    if (dir == nullptr) {
        std::perror(path);
        return false;
    }
    const int before = count;
    bool ok = true;
    char name[4096];
    while (const dirent *entry = readdir(dir)) {
        std::snprintf(name, sizeof name, "%s/%s", path, entry->d_name);
        struct stat st;
        if (stat(name, &st) != 0 || !S_ISREG(st.st_mode)) continue;
        ok = replay_file(name) && ok;
        ++count;
    }
    closedir(dir);
    if (count == before) std::fprintf(stderr, "%s: no inputs\n", path);
    return ok && count > before;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE|DIRECTORY...\n", argv[0]);
        return 2;
    }
    int count = 0;
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        struct stat st;
        if (stat(argv[i], &st) == 0 && S_ISDIR(st.st_mode)) {
            ok = replay_directory(argv[i], count) && ok;
        } else {
            ok = replay_file(argv[i]) && ok;
            ++count;
        }
    }
    std::printf("%d inputs replayed\n", count);
    return ok ? 0 : 1;
}
