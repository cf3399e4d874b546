// File copies: bytes between two descriptors, the same with room reserved on the
// target first, and named files copied with their permission bits and owner.

#include <cerrno>
#include <cstddef>
#include <sys/types.h>

#include "hv_ext.h"
#include "internal/owned_file.h"
#include "internal/path_buffer.h"
#include "sxl.h"

namespace hv::files {
namespace {

constexpr std::size_t kChunk = 8192;
constexpr unsigned int kPermissionBits = 0777;

// Reports a failure of ext_copy: the error goes out before any clean-up close
// can disturb errno, and a caller may have passed no place for it.
int fail(int *error, int code, int result) {
    if (error != nullptr) *error = code;
    return result;
}

// Resolves a name of ext_copy into path. The resolution itself says only no; a
// name too long for any path buffer is told apart from one that names nothing.
bool resolve(const char *name, char *path, int *err) {
    if (ext_GetActualFName(name, path) != nullptr) return true;
    *err = path_length(name) == kPathMax ? ENAMETOOLONG : ENOENT;
    return false;
}

}  // namespace
}  // namespace hv::files

using namespace hv;
using namespace hv::files;

extern "C" int ext_CopyFD2FD(int from, int to) noexcept {
    char buffer[kChunk];
    for (;;) {
        const ssize_t got = sxl_read(from, buffer, kChunk);
        if (got == 0) return 0;
        // A failed read is no end of file: the copy would look complete and not be.
        if (got < 0) return -1;
        if (sxl_write(to, buffer, static_cast<std::size_t>(got)) != got) return -1;
    }
}

extern "C" int ext_MakePhysicalCopy(int from, int to) noexcept {
    sxl_statbuf st;
    if (sxl_fstat(from, &st) != 0) return -1;
    sxl_prealloc(to, st.size);  // only a hint: a full disk shows in the writes
    return ext_CopyFD2FD(from, to) == 0 ? 0 : -2;
}

extern "C" int ext_copy(const char *from, const char *to, int *error) noexcept {
    if (from == nullptr || to == nullptr) return fail(error, EINVAL, -1);
    char from_path[kPathMax];
    char to_path[kPathMax];
    int err = 0;
    if (!resolve(from, from_path, &err) || !resolve(to, to_path, &err))
        return fail(error, err, -1);

    OwnedFd source(sxl_open(from_path, SXL_O_RDONLY, 0));
    if (!source) return fail(error, errno, -1);
    sxl_statbuf st;
    if (sxl_fstat(source.get(), &st) == -1) return fail(error, errno, -1);
    // No truncation: an existing target keeps its bits and is overwritten in place.
    OwnedFd target(sxl_open(to_path, SXL_O_RDWR_CREAT, st.mode & kPermissionBits));
    if (!target) return fail(error, errno, -1);
    if (sxl_chown(to_path, st.uid, st.gid) != 0) return fail(error, errno, -1);

    switch (ext_MakePhysicalCopy(source.get(), target.get())) {
    case 0: break;
    case -1: return fail(error, errno, -1);
    default: return fail(error, HV_EXT_COPY_FAILED, -2);
    }
    if (source.reset() != 0) return fail(error, errno, -1);
    if (target.reset() != 0) return fail(error, errno, -1);
    return 0;
}
