// File helpers for tests that arrange the files the library reads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "harness.h"

namespace hv::test {

void write_file(const std::string &path, std::string_view content) {
    std::error_code ignored;  // a directory that cannot be made fails the open below
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.close();
    if (!out) ADD_FAILURE() << "cannot write " << path << ": " << strerror(errno);
}

void remove_path(const std::string &path) {
    if (unlink(path.c_str()) == 0 || errno == ENOENT) return;
    // unlink refuses directories with EISDIR, or with EPERM as POSIX allows.
    if ((errno == EISDIR || errno == EPERM) && rmdir(path.c_str()) == 0) return;
    ADD_FAILURE() << "cannot remove " << path << ": " << strerror(errno);
}

}  // namespace hv::test
