// The process title: Linux shows a process's argument strings as its command line,
// and the environment strings follow them in one block. Once the environment has
// been copied to the heap, that whole block may be overwritten with a new title.

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "hv_ext.h"

namespace hv::process {
namespace {

// Set once by ext_initSetProcTitle; unguarded, as it runs before any thread.
constinit bool g_prepared = false;
constinit char *g_title_start = nullptr;
constinit unsigned g_title_room = 0;

// The strings the room is made of: the arguments, then the environment as found.
class BlockStrings {
public:
    BlockStrings(char **args, std::size_t arg_count, char **env, std::size_t env_count)
        : args_(args), arg_count_(arg_count), env_(env), env_count_(env_count) {}

    std::size_t size() const { return arg_count_ + env_count_; }
    const char *at(std::size_t i) const { return i < arg_count_ ? args_[i] : env_[i - arg_count_]; }

    // The index of the string that begins at where, or size().
    std::size_t find(const char *where) const {
        for (std::size_t i = 0; i < size(); ++i)
            if (at(i) == where) return i;
        return size();
    }

private:
    char **args_;
    std::size_t arg_count_;
    char **env_;
    std::size_t env_count_;
};

// The bytes that may be overwritten from start on: the strings that lie end to end
// from there, terminators included. A string set before the call lives on the
// heap, not in the block, and a vector not laid out by the kernel may have gaps:
// the walk stops at the first byte no known string begins at, so a title can never
// run past the block. Arguments reordered by getopt are still found.
std::size_t contiguous_extent(const BlockStrings &strings, const char *start) {
    const char *cursor = start;
    std::size_t next = 0;
    for (;;) {
        std::size_t i = next < strings.size() && strings.at(next) == cursor ? next
                                                                            : strings.find(cursor);
        if (i == strings.size()) break;
        cursor += std::strlen(cursor) + 1;
        next = i + 1;
    }
    return static_cast<std::size_t>(cursor - start);
}

std::size_t total_length(const BlockStrings &strings, std::size_t from) {
    std::size_t total = 0;
    for (std::size_t i = from; i < strings.size(); ++i) total += std::strlen(strings.at(i));
    return total;
}

// Points environ at heap copies of its strings. On a refusal of the heap the
// environment is left exactly as it was and nothing is kept.
bool move_environment(char **old, std::size_t count) {
    auto fresh = static_cast<char **>(std::calloc(count + 1, sizeof(char *)));
    if (fresh == nullptr) return false;
    for (std::size_t i = 0; i < count; ++i) {
        fresh[i] = ::strdup(old[i]);
        if (fresh[i] == nullptr) {
            while (i > 0) std::free(fresh[--i]);
            std::free(fresh);
            return false;
        }
    }
    // The old array is not freed: it was never the heap's.
    environ = fresh;
    return true;
}

}  // namespace
}  // namespace hv::process

using namespace hv::process;

extern "C" void ext_initSetProcTitle(int argc, char **argv) noexcept {
    if (g_prepared || argv == nullptr) return;
    g_prepared = true;

    char **old_env = environ;
    std::size_t env_count = 0;
    if (old_env != nullptr) {
        while (old_env[env_count] != nullptr) ++env_count;
        if (!move_environment(old_env, env_count)) return;
    }
    // argv[0] starts the block even when argc is 0 or less, but only arguments
    // below argc count; a null argument ends the vector whatever argc says.
    std::size_t arg_count = 0;
    while (arg_count < static_cast<std::size_t>(std::max(argc, 1)) && argv[arg_count] != nullptr)
        ++arg_count;
    if (arg_count == 0) return;  // argv[0] is null: nowhere to write

    const BlockStrings strings(argv, arg_count, old_env, env_count);
    const std::size_t counted = total_length(strings, argc > 0 ? 0 : 1);
    const std::size_t extent = contiguous_extent(strings, argv[0]);
    // A title shorter than the room, with its terminator, then fits the block.
    const std::size_t room = std::min(counted, extent);
    g_title_room = static_cast<unsigned>(std::min<std::size_t>(room, UINT_MAX));
    g_title_start = argv[0];
}

extern "C" void ext_setProcTitle(const char *title) noexcept {
    if (g_title_start == nullptr || title == nullptr) return;
    const std::size_t length = ::strnlen(title, g_title_room);
    if (length >= g_title_room) return;
    // The title may itself lie in the block (a later argument, say).
    std::memmove(g_title_start, title, length + 1);
}
