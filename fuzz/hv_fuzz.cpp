// The fuzz program: entry NAME of kEntries under libFuzzer (make fuzz: HV_FUZZ_ENTRY=NAME
// hv_fuzz), or in the test builds on each input file named (hv_fuzz NAME FILE...), each in a
// fresh process, so that the caches the library keeps for a process's life hold that input
// alone. glob, crc16 and bit_maps hold the library against far simpler references
// (fuzz/reference/); the others look for crashes and sanitizer reports, and check only rules
// no input can bend. Files the library reads are served from memory by the fault seam.

#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hv_ext.h"
#include "reference_bit_maps.h"
#include "reference_text.h"
#include "seam.h"

namespace {

namespace ref = hv::reference;
using Bytes = std::string_view;
using Text = std::unique_ptr<char[]>;
constexpr std::size_t kPathMax = HV_EXT_PATH_MAX;

Bytes take(Bytes &in, std::size_t n) {
    const Bytes part = in.substr(0, n);
    in.remove_prefix(part.size());
    return part;
}

// The bytes before the first NUL; in moves past that NUL.
Bytes take_part(Bytes &in) {
    const Bytes part = take(in, in.find('\0'));
    take(in, 1);
    return part;
}

unsigned take_byte(Bytes &in) {
    const Bytes byte = take(in, 1);
    return byte.empty() ? 0 : static_cast<unsigned char>(byte[0]);
}

// A NUL-terminated copy in a heap block of its exact size, so that AddressSanitizer
// sees a read one byte past its end.
Text text(Bytes bytes) {
    Text copy(new char[bytes.size() + 1]);
    std::copy(bytes.begin(), bytes.end(), copy.get());
    copy[bytes.size()] = '\0';
    return copy;
}

void check(bool holds, const char *what) {
    if (holds) return;
    std::fprintf(stderr, "hv_fuzz: %s\n", what);
    std::abort();
}

// Input: the pattern, a NUL, the string. The reference costs about the string's
// length to the power of the stars, so it is asked only where that stays small.
void glob(Bytes in) {
    const Text pattern = text(take_part(in)), string = text(in);
    const int exact = ext_glob(string.get(), pattern.get());
    const int folded = ext_globcase(string.get(), pattern.get());
    double steps = 1;
    for (const char *p = pattern.get(); *p != '\0'; ++p)
        if (*p == '*' && (steps *= static_cast<double>(std::strlen(string.get()) + 1)) > 2e5)
            return;
    check(exact == ref::glob(string.get(), pattern.get(), false), "ext_glob");
    check(folded == ref::glob(string.get(), pattern.get(), true), "ext_globcase");
}

// Over the input and its tails from every offset up to 8, so that the eight-byte
// steps meet every alignment and every remainder.
void crc16(Bytes in) {
    const auto *data = reinterpret_cast<const unsigned char *>(in.data());
    const int length = static_cast<int>(std::min<std::size_t>(in.size(), 1 << 20));
    for (int offset = 0; offset <= 8 && offset <= length; ++offset)
        check(
            ext_CRC16(data + offset, length - offset) == ref::crc16(data + offset, length - offset),
            "ext_CRC16 and the bitwise CRC differ");
    check(ext_CRC16(data, -length) == 0, "ext_CRC16 of a negative length");
}

// A bit-map number: one byte, 0-199 itself, 200-239 near the map's bit length,
// 240-247 an edge of int, 248 and up the next four bytes.
int take_number(Bytes &in, int size) {
    const unsigned selector = take_byte(in);
    const int bits = 8 * std::max(size, 0);
    if (selector < 200) return static_cast<int>(selector);
    if (selector < 240) return bits + static_cast<int>(selector) - 220;
    const int edges[] = {INT_MAX, INT_MAX - 1, INT_MIN, -1, INT_MAX - bits, bits / 2, -2, 0};
    if (selector < 248) return edges[selector - 240];
    std::uint32_t raw = 0;
    for (int i = 0; i < 4; ++i) raw = raw << 8 | take_byte(in);
    return static_cast<int>(raw);
}

// Input: two bytes for the size (16-bit signed, modulo 2,200); one for the map's
// offset from an 8-byte boundary (bits 0-2); a count of bytes and those bytes, repeated
// to fill the map (none: zeros); then calls: an opcode byte (0 FindBits, 1 SetBits, 2
// CheckBits, 3 poke a byte; the upper bits are the set flag) and two numbers. Each is
// checked against the reference on a model copy of the map.
void bit_maps(Bytes in) {
    const unsigned low = take_byte(in);
    const int size = static_cast<std::int16_t>(low | take_byte(in) << 8) % 2200;
    const unsigned offset = take_byte(in) & 7;
    const Bytes pattern = take(in, take_byte(in));
    const std::size_t bytes = static_cast<std::size_t>(std::max(size, 0));
    // Nothing beyond the map is allocated: a read past its end is caught.
    const std::unique_ptr<unsigned char[]> storage(new unsigned char[bytes + offset]);
    unsigned char *map = bytes != 0 ? storage.get() + offset : nullptr;
    std::vector<unsigned char> model(bytes);
    for (std::size_t i = 0; i < bytes; ++i)
        map[i] = model[i] = pattern.empty() ? 0 : pattern[i % pattern.size()];
    while (!in.empty()) {
        const unsigned op = take_byte(in);
        const int a = take_number(in, size), b = take_number(in, size),
                  set = static_cast<int>(op >> 2);
        if ((op & 3) == 0)
            check(ext_FindBits(map, size, a, b) == ref::find_bits(model.data(), size, a, b),
                  "ext_FindBits");
        if ((op & 3) == 1) {
            ext_SetBits(map, size, a, b, set);
            ref::set_bits(model.data(), size, a, b, set);
        }
        if ((op & 3) == 2)
            check(ext_CheckBits(map, size, a, b, set) ==
                      ref::check_bits(model.data(), size, a, b, set),
                  "ext_CheckBits");
        if ((op & 3) == 3 && bytes != 0)
            map[static_cast<unsigned>(a) % bytes] = model[static_cast<unsigned>(a) % bytes] =
                static_cast<unsigned char>(b);
        check(std::equal(model.begin(), model.end(), map), "the map and its model differ");
    }
}

// Input: maxargs as a signed byte, then NUL-separated: the line to split into arguments,
// the string to translate, from, to, a language code, dir1 and dir2. buf and args have
// exactly the room ext_ConvStr2ArgV's contract asks for.
void strings(Bytes in) {
    const int maxargs = static_cast<signed char>(take_byte(in));
    const Text line = text(take_part(in)), buf(new char[std::strlen(line.get()) + 1]);
    const std::unique_ptr<char *[]> args(new char *[std::max(maxargs, 0) + 1]);
    int argc = 0;
    ext_ConvStr2ArgV(line.get(), maxargs, buf.get(), &argc, args.get());
    const Text str = text(take_part(in)), from = text(take_part(in)), to = text(take_part(in));
    ext_TranslateChars(str.get(), from.get(), to.get());
    const Bytes code = take_part(in);
    const Text lang = text(code), jlang = text(code), landt = text(code);
    const char *dir = ext_langtodir(lang.get());
    check(dir == nullptr || std::strlen(dir) <= 40, "ext_langtodir: longer than its buffer");
    check(
        ext_langtojlang(jlang.get()) == jlang.get() && ext_langtolandt(landt.get()) == landt.get(),
        "a language code not cut in place");
    const Text dir1 = text(take_part(in)), dir2 = text(in);
    const char *path = ext_BuildCatDir(dir1.get(), dir2.get());
    check(path == nullptr || std::strlen(path) < kPathMax, "ext_BuildCatDir: longer than a path");
}

bool token(const char *name) {
    return (name[0] == '~' || name[0] == '@' || name[0] == '^') && name[1] == '/';
}

// A token that fits is its own short name. A path that is no token and shortens to a
// "~/" or "@/" form resolves back to itself, but for the installation's own folders,
// which "~/" names too.
void round_trip(const char *path) {
    const Text short_name(new char[kPathMax]), back(new char[kPathMax]);
    const int shortened = ext_GetShortFName(path, short_name.get());
    if (token(path) && std::strlen(path) < kPathMax)
        check(shortened == 1 && std::strcmp(short_name.get(), path) == 0, "a token shortened");
    if (token(path) || shortened != 1 || !token(short_name.get())) return;
    const std::string folder(short_name.get() + 2, std::strcspn(short_name.get() + 2, "/"));
    if (short_name[0] == '~' && (folder == "bin" || folder == "diag" || folder == "newconfig"))
        return;
    check(ext_GetActualFName(short_name.get(), back.get()) != nullptr &&
              std::strcmp(back.get(), path) == 0,
          "a short name does not resolve to its path");
}

// Input: a file, served as every file the library parses (the settings between two lines of
// a key of their own, the play-pen list ending with "*", which lets anyone in); its first
// line is also a file name and a zone alias.
void files(Bytes in) {
    const std::string settings = "HV_FUZZ=first\n" + std::string(in) + "\nHV_FUZZ=last\n";
    const std::string list = std::string(in) + "\n*\n";
    for (const char *path : {"/etc/timezone", "/srv/mail/sys/TimeZoneMap",
                             "/opt/morvek/bin/Uredirect", "/usr/morvek/bin/Uredirect"})
        hv::test::serve_file(path, in);
    hv::test::serve_file("/srv/mail/sys/general.cfg", settings);
    hv::test::serve_file("/opt/morvek/bin/hvpp.allow", list);
    const Text name = text(take(in, in.find('\n')));
    char *value = nullptr;
    check(ext_GetCustomiseInfo("HV_FUZZ", &value) == 1 && std::strcmp(value, "last") == 0,
          "ext_GetCustomiseInfo: not the last value");
    check(ext_PlayPenAllowed() == (getpwuid(getuid()) != nullptr), "ext_PlayPenAllowed");
    ext_GetSystemTimezoneName();
    const Text out(new char[kPathMax]);
    ext_GetTZIDFromAlias(name.get(), out.get());
    check(std::strlen(out.get()) < 80, "ext_GetTZIDFromAlias: longer than its buffer");
    ext_GetUAPPath(out.get());
    check(std::strlen(out.get()) < kPathMax, "ext_GetUAPPath: longer than a path");
    round_trip(name.get());
    if (ext_GetActualFName(name.get(), out.get()) != nullptr) round_trip(out.get());
    const char *alnum = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    check(ext_CheckFileName(name.get()) == (name[std::strspn(name.get(), alnum)] == '\0'),
          "ext_CheckFileName");
    ext_BaseName(name.get());
    ext_FreeInfo();
}

struct Entry {
    const char *name;
    void (*run)(Bytes);
};

constexpr Entry kEntries[] = {{"glob", glob},         {"crc16", crc16}, {"bit_maps", bit_maps},
                               {"strings", strings}, {"files", files}};

const Entry &choose(const char *name) {
    setenv("HV_DATADIR", "/srv/mail", 1);
    unsetenv("HV_SITE_TIMEZONE_NAME");  // a site setting would win over /etc/timezone
    for (const Entry &entry : kEntries)
        if (name != nullptr && std::strcmp(entry.name, name) == 0) return entry;
    std::fprintf(stderr, "usage: hv_fuzz NAME FILE..., HV_FUZZ_ENTRY=NAME under libFuzzer\n");
    std::exit(2);
}

}  // namespace

#ifdef HV_LIBFUZZER
// libFuzzer owns the command line: the entry is named in the environment. Every input runs in
// this one process, where libFuzzer sees what it reaches: the files the library reads once
// for a process's life are parsed from the first input alone.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static const Entry &entry = choose(std::getenv("HV_FUZZ_ENTRY"));
    entry.run(Bytes(reinterpret_cast<const char *>(data), size));
    hv::test::forget_files();  // served from memory that is gone now
    return 0;
}
#else
// Runs the entry in a child process, which leaves through exit so that a leak is reported;
// whether it ended well.
bool run_alone(const Entry &entry, Bytes in) {
    const pid_t pid = fork();
    if (pid == 0) {
        entry.run(in);
        std::exit(0);
    }
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

int main(int argc, char **argv) {
    const Entry &entry = choose(argc > 2 ? argv[1] : nullptr);
    bool ok = true;
    for (int i = 2; i < argc; ++i) {
        std::ifstream file(argv[i], std::ios::binary);
        const std::string input{std::istreambuf_iterator<char>(file), {}};
        // Handed over in a heap block of its exact size, as libFuzzer does.
        const std::unique_ptr<char[]> exact(new char[input.size()]);
        std::copy(input.begin(), input.end(), exact.get());
        if (file && run_alone(entry, {exact.get(), input.size()})) continue;
        std::fprintf(stderr, "hv_fuzz %s: %s: a fault\n", entry.name, argv[i]);
        ok = false;
    }
    std::printf("%d inputs replayed\n", argc - 2);
    return ok ? 0 : 1;
}
#endif
