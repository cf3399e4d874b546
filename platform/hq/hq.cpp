// The host-environment library. Valgrind answers its own client request; on a
// real processor the request is a no-op sequence that leaves 0. Built without
// Valgrind's header (Debian's valgrind package), it cannot tell and answers 0.

// Built with hidden visibility: the calls declared here are the ones it shows.
#pragma GCC visibility push(default)
#include "hq.h"
#pragma GCC visibility pop

#if __has_include(<valgrind/valgrind.h>)
#include <valgrind/valgrind.h>
#else
#define RUNNING_ON_VALGRIND 0
#endif

extern "C" int hq_UsingValgrind(void)
{
    return RUNNING_ON_VALGRIND ? 1 : 0;
}
