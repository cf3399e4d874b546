// Profiling directories: when a site profiles several processes at once, each
// process asked to moves at exit into /tmp/hvdebug/<program>/<pid>, so that what
// the profiler writes into the working directory afterwards is kept apart.

#include <array>
#include <cerrno>
#include <cstdio>
#include <unistd.h>

#include "hv_ext.h"
#include "sxl.h"

namespace hv::process {
namespace {

constexpr char kSwitch[] = "EXT_MULTI_PROFILING";
constexpr char kUnknownProgram[] = "unknown";
constexpr mode_t kDirMode = 0777;

// Set during start-up by ext_profprep; unguarded. The name points into the
// caller's string, which must outlive the process's exit handlers.
constinit bool g_prepared = false;
constinit const char *g_program = nullptr;

// Makes dir (relative) if missing and changes into it; false on any failure.
bool enter(const char *dir) {
    if (sxl_mkdir(dir, kDirMode) == -1 && errno != EEXIST) return false;
    return ::chdir(dir) == 0;
}

}  // namespace
}  // namespace hv::process

using namespace hv::process;

extern "C" void ext_profprep(const char *path, int register_handler) noexcept {
    if (g_prepared) return;
    g_prepared = true;
    // ext_BaseName only reads the path; its parameter is not const for its callers.
    g_program = ext_BaseName(const_cast<char *>(path));
    char *value;
    if (register_handler != 0 && ext_GetCustomiseInfo(kSwitch, &value) != 0)
        sxl_atexit(ext_profexit);
}

extern "C" void ext_profexit(void) noexcept {
    if (::chdir("/tmp") != 0 || !enter("hvdebug")) return;
    if (g_program == nullptr) g_program = kUnknownProgram;
    if (!enter(g_program)) return;
    std::array<char, 16> pid;
    std::snprintf(pid.data(), pid.size(), "%i", static_cast<int>(::getpid()));
    enter(pid.data());
}
