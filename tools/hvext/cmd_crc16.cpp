// hvext crc16: the suite's CRC-16 of files or of standard input.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "cli.h"
#include "hv_ext.h"

namespace hvext {
namespace {

constexpr const char *kHelp =
    "Usage: hvext crc16 [<file>...]\n"
    "\n"
    "Prints the checksum the suite's programs compute (CRC-16/X-25 with its two\n"
    "bytes exchanged) of each <file> as four hex digits and the name, such as\n"
    "'6e90  FILE'. Without a file, or for '-', standard input is read. A file that\n"
    "cannot be read is named on stderr and the others are still printed; the exit\n"
    "status is then 1. Each input is read whole into memory, up to 2 GiB - 1.\n"
    "\n"
    "Options:\n"
    "  -h, --help  display this help and exit\n";

// ext_CRC16 takes its length as an int.
constexpr std::size_t kMaxInput = INT_MAX;

// All of fd's data, or null with errno set (EFBIG past kMaxInput bytes).
unsigned char *read_all(int fd, int *length) {
    std::size_t size = 0;
    std::size_t capacity = 0;
    unsigned char *data = nullptr;
    for (;;) {
        if (size == capacity) {
            if (capacity > kMaxInput) {
                errno = EFBIG;
                break;
            }
            // Room for one byte past the limit, to see that there is one.
            capacity = capacity == 0 ? 64 * 1024 : std::min(capacity * 2, kMaxInput + 1);
            auto *grown = static_cast<unsigned char *>(std::realloc(data, capacity));
            if (grown == nullptr) break;
            data = grown;
        }
        const ssize_t got = ::read(fd, data + size, capacity - size);
        if (got == 0) {
            *length = static_cast<int>(size);
            return data;
        }
        if (got < 0) {
            if (errno == EINTR) continue;
            break;
        }
        size += static_cast<std::size_t>(got);
    }
    const int saved = errno;
    std::free(data);
    errno = saved;
    return nullptr;
}

bool print_crc(const char *cmd, const char *name) {
    const bool is_stdin = std::strcmp(name, "-") == 0;
    const int fd = is_stdin ? STDIN_FILENO : ::open(name, O_RDONLY | O_CLOEXEC);
    int length = 0;
    unsigned char *data = fd < 0 ? nullptr : read_all(fd, &length);
    const int saved = errno;
    if (fd >= 0 && !is_stdin) ::close(fd);
    if (data == nullptr) {
        complain(cmd, "%s: %s", name, std::strerror(saved));
        return false;
    }
    std::printf("%04x  %s\n", ext_CRC16(data, length), name);
    std::free(data);
    return true;
}

int print_stdin_crc(const char *cmd) { return print_crc(cmd, "-") ? kExitOk : kExitNo; }

}  // namespace

int cmd_crc16(int argc, char **argv) {
    return run_operands(argc, argv, kHelp, "file", print_crc, print_stdin_crc);
}

}  // namespace hvext
