// The stand-in calls answered from memory. The library's references to each call
// below are bound to __wrap_<call> at link time; __real_<call> is the stand-in.

#include "fuzz_support.h"

#include <pwd.h>

#include <cerrno>
#include <cstdio>

#include "dtk.h"
#include "sxl.h"

extern "C" {
FILE *__real_sxl_fopen(const char *path, const char *mode);
int __real_sxl_stat(const char *path, sxl_statbuf *st);
passwd *__real_sxl_getpwuid(uid_t uid);
void *__real_sxl_malloc(std::size_t size);
void *__real_sxl_realloc(void *p, std::size_t size);
}

namespace hv::fuzz {
namespace {

struct MemoryFile {
    const char *path;  // null: a free slot
    Bytes content;
    bool hidden;
};

constexpr int kFiles = 4;
MemoryFile g_files[kFiles];
const char *g_home = "/srv/mail";
bool (*g_exists)(const char *) = nullptr;
passwd g_entry;
bool g_has_entry = false;
unsigned g_fail_in = 0;

MemoryFile *file_at(const char *path) {
    for (MemoryFile &file : g_files)
        if (file.path != nullptr && std::strcmp(file.path, path) == 0) return &file;
    return nullptr;
}

void add_file(const char *path, Bytes content, bool hidden) {
    MemoryFile *slot = file_at(path);
    for (MemoryFile &file : g_files)
        if (slot == nullptr && file.path == nullptr) slot = &file;
    if (slot == nullptr) mismatch("more memory files than slots");
    *slot = {path, content, hidden};
}

bool allocation_fails() {
    if (g_fail_in == 0 || --g_fail_in != 0) return false;
    errno = ENOMEM;
    return true;
}

}  // namespace

Bytes take_part(Bytes &in) {
    const void *nul = in.size != 0 ? std::memchr(in.data, 0, in.size) : nullptr;
    const std::size_t length =
        nul != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t *>(nul) - in.data)
                       : in.size;
    const Bytes part{in.data, length};
    const std::size_t used = nul != nullptr ? length + 1 : length;
    in = {in.data + used, in.size - used};
    return part;
}

unsigned take_byte(Bytes &in) {
    if (in.size == 0) return 0;
    const unsigned byte = in.data[0];
    in = {in.data + 1, in.size - 1};
    return byte;
}

void mismatch(const char *what) {
    std::fprintf(stderr, "fuzz: mismatch: %s\n", what);
    std::abort();
}

void serve_file(const char *path, Bytes content) { add_file(path, content, false); }
void hide_file(const char *path) { add_file(path, {}, true); }
void forget_files() {
    for (MemoryFile &file : g_files) file = {};
}

void set_home(const char *home) { g_home = home; }
void answer_stat(bool (*exists)(const char *)) { g_exists = exists; }

void set_login(const char *login) {
    g_has_entry = login != nullptr;
    g_entry = {};
    g_entry.pw_name = const_cast<char *>(login);
}

void fail_allocation(unsigned n) { g_fail_in = n; }

}  // namespace hv::fuzz

using namespace hv::fuzz;

extern "C" FILE *__wrap_sxl_fopen(const char *path, const char *mode) {
    const MemoryFile *file = path != nullptr ? file_at(path) : nullptr;
    if (file == nullptr) return __real_sxl_fopen(path, mode);
    if (file->hidden) {
        errno = ENOENT;
        return nullptr;
    }
    // fmemopen wants a buffer even for an empty file.
    static char empty[1];
    void *data = file->content.size != 0 ? const_cast<std::uint8_t *>(file->content.data)
                                         : static_cast<void *>(empty);
    return ::fmemopen(data, file->content.size, "r");
}

extern "C" const char *__wrap_dtk_getDatadir(void) { return g_home; }

extern "C" int __wrap_sxl_stat(const char *path, sxl_statbuf *st) {
    if (g_exists == nullptr || path == nullptr || st == nullptr) return __real_sxl_stat(path, st);
    *st = {};
    if (g_exists(path)) return 0;
    errno = ENOENT;
    return -1;
}

extern "C" passwd *__wrap_sxl_getpwuid(uid_t uid) {
    (void)uid;
    return g_has_entry ? &g_entry : nullptr;
}

extern "C" void *__wrap_sxl_malloc(std::size_t size) {
    return allocation_fails() ? nullptr : __real_sxl_malloc(size);
}

extern "C" void *__wrap_sxl_realloc(void *p, std::size_t size) {
    return allocation_fails() ? nullptr : __real_sxl_realloc(p, size);
}
