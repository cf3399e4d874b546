// What the fuzz targets share: inputs cut into parts, parts as C strings in heap
// blocks of their exact size (so that AddressSanitizer sees a read one byte past
// the end), and the stand-in calls that the targets answer from memory. Those
// calls are redirected with the linker's --wrap (fuzz/CMakeLists.txt); whatever a
// target does not set up goes to the real call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace hv::fuzz {

struct Bytes {
    const std::uint8_t *data;
    std::size_t size;
};

// The bytes of in before its first NUL; in moves past that NUL, or to its end
// when there is none.
Bytes take_part(Bytes &in);

// The first byte of in as a number, 0 when in is empty; in moves past it.
unsigned take_byte(Bytes &in);

// A NUL-terminated copy of bytes (which may hold NULs of their own).
class Text {
public:
    explicit Text(Bytes bytes)
        : text_(static_cast<char *>(std::malloc(bytes.size + 1))), size_(bytes.size) {
        if (bytes.size != 0) std::memcpy(text_, bytes.data, bytes.size);
        text_[bytes.size] = '\0';
    }
    ~Text() { std::free(text_); }
    Text(const Text &) = delete;
    Text &operator=(const Text &) = delete;

    char *get() const { return text_; }
    // The bytes, NULs included; strlen(get()) may be less.
    std::size_t size() const { return size_; }
    Bytes bytes() const { return {reinterpret_cast<const std::uint8_t *>(text_), size_}; }

private:
    char *text_;
    std::size_t size_;
};

// Calls line(text) for each read that sxl_fgets(buffer, limit + 1, file) makes:
// at most limit characters, up to and including a newline. text is a
// NUL-terminated copy, valid for the call, so a NUL in the file ends it early.
// Stops when line returns false.
template <class Line>
void for_each_read(Bytes file, std::size_t limit, Line line) {
    char *text = static_cast<char *>(std::malloc(limit + 1));
    for (std::size_t at = 0; at < file.size;) {
        std::size_t end = at;
        while (end < file.size && end - at < limit && (end == at || file.data[end - 1] != '\n'))
            ++end;
        std::memcpy(text, file.data + at, end - at);
        text[end - at] = '\0';
        at = end;
        if (!line(text)) break;
    }
    std::free(text);
}

// Stops the run with a message: the fuzzer and the replay both report it as a crash.
[[noreturn]] void mismatch(const char *what);

// sxl_fopen of path reads content from memory (kept by the caller until
// forget_files); hide_file makes it fail with ENOENT. At most four paths.
void serve_file(const char *path, Bytes content);
void hide_file(const char *path);
void forget_files();

// What dtk_getDatadir returns (null: no home area). "/srv/mail" until set.
void set_home(const char *home);

// sxl_stat answers with exists(path) (0, or -1 with ENOENT); null: the real call.
void answer_stat(bool (*exists)(const char *path));

// The password entry that sxl_getpwuid returns for any uid: one named login, or
// none for null.
void set_login(const char *login);

// The nth sxl_malloc or sxl_realloc from now fails (null, ENOMEM); 0: none does.
void fail_allocation(unsigned n);

}  // namespace hv::fuzz
