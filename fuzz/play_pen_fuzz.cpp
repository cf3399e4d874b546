// The play-pen list "/opt/morvek/bin/hvpp.allow" with any content, served from
// memory, for a user of any login name, against a plain reading of the list. The
// answer is kept for the life of a process, so this target is built on the
// routine's own source and makes the check pending again before each input.
//
// Input: the login name (none when empty), a NUL, the list; without a NUL there
// is no list.

#include "account/play_pen.cpp"

#include <cstdint>

#include "fuzz_support.h"

namespace {

using namespace hv::fuzz;

constexpr std::size_t kPiece = 81;  // characters per read of the list

int expected_answer(const char *login, Bytes list) {
    int allowed = 0;
    for_each_read(list, kPiece, [&](char *line) {
        char *word = line + std::strspn(line, " \t\n");
        word[std::strcspn(word, " \t\n")] = '\0';
        if (word[0] == '\0' || word[0] == '#') return true;
        allowed = std::strcmp(word, login) == 0 || std::strcmp(word, "*") == 0;
        return allowed == 0;
    });
    return allowed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    Bytes in{data, size};
    const Text login(take_part(in));
    const bool has_list = login.size() < size;
    constexpr char kList[] = "/opt/morvek/bin/hvpp.allow";
    if (has_list) serve_file(kList, in);
    else hide_file(kList);
    set_login(login.size() != 0 ? login.get() : nullptr);

    hv::account::g_pending = 1;
    hv::account::g_allowed = 0;
    const int expected = has_list && login.size() != 0 ? expected_answer(login.get(), in) : 0;
    if (ext_PlayPenAllowed() != expected || ext_PlayPenAllowed() != expected)
        mismatch("ext_PlayPenAllowed and the list differ");
    set_login(nullptr);
    forget_files();
    return 0;
}
