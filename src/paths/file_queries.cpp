// Small questions about files: existence, directories, modification times, the
// file-system kind, and the system start count kept in "~/sys/sysdata".

#include <atomic>
#include <cstdint>
#include <ctime>

#include "hv_ext.h"
#include "internal/owned_file.h"
#include "internal/path_buffer.h"
#include "sxl.h"

using namespace hv;

namespace {

// The directory test is this one mode bit, not the whole file-type field, so
// block devices and sockets pass it too; the suite's programs have relied on it.
constexpr unsigned kDirectoryBit = 0x4000;
constexpr long long kStartCountOffset = 40;

// Filled by the first call that reads a non-zero count, then only read. Two first
// calls at once may both read the file; they store the same value.
constinit std::atomic<std::int32_t> g_start_count{0};

}  // namespace

extern "C" int ext_dexists(const char *path) noexcept {
    sxl_statbuf st;
    if (path == nullptr || sxl_stat(path, &st) != 0) return 0;
    return (st.mode & kDirectoryBit) != 0 ? 1 : 0;
}

extern "C" int ext_fexists(const char *path) noexcept {
    sxl_statbuf st;
    return path != nullptr && sxl_stat(path, &st) == 0 ? 1 : 0;
}

extern "C" time_t ext_LastModTimeOfFile(const char *name) noexcept {
    char path[kPathMax];
    sxl_statbuf st;
    if (ext_GetActualFName(name, path) == nullptr || sxl_stat(path, &st) == -1) return 0;
    return st.mtime;
}

extern "C" int ext_fstype(int fd) noexcept { return sxl_fstype(fd); }

extern "C" int ext_GetSystemStartCount(void) noexcept {
    if (const std::int32_t known = g_start_count.load(std::memory_order_relaxed)) return known;

    char path[kPathMax];
    if (ext_GetActualFName("~/sys/sysdata", path) == nullptr) return 0;
    OwnedFd fd(sxl_open(path, SXL_O_RDONLY, 0));
    if (!fd || sxl_lseek(fd.get(), kStartCountOffset, 0) < 0) return 0;
    // One read, its count not tested: bytes it does not deliver stay 0, so a file
    // of 41 to 43 bytes gives the low-order bytes it holds.
    std::int32_t count = 0;
    sxl_read(fd.get(), &count, sizeof count);
    g_start_count.store(count, std::memory_order_relaxed);
    return count;
}
