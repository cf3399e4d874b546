// The host-environment library. Valgrind answers its own client request; on a
// real processor the request is a no-op sequence that leaves 0.

// Built with hidden visibility: the calls declared here are the ones it shows.
#pragma GCC visibility push(default)
#include "hq.h"
#pragma GCC visibility pop

#include <valgrind/valgrind.h>

extern "C" int hq_UsingValgrind(void)
{
    return RUNNING_ON_VALGRIND ? 1 : 0;
}
