// The parts of the harness that only the shared main uses.
#pragma once

namespace hv::test {

// Makes this process run inside the sandbox: enters the namespaces (unless a
// launcher already did) and lays out the fresh installation described in
// harness.h. Ends the process with one line on stderr if any step fails: a test
// that ran outside the sandbox would change the host.
void enter_sandbox();

namespace detail {

// Prints "hv-test: <what> <path>: <strerror(err)>" and exits with status 1.
[[noreturn]] void fail(const char *what, const char *path, int err);

}  // namespace detail
}  // namespace hv::test
