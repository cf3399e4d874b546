// The data-directory library: the installation names its home area in the
// environment.

// Built with hidden visibility: the calls declared here are the ones it shows.
#pragma GCC visibility push(default)
#include "dtk.h"
#pragma GCC visibility pop

#include <cstdlib>

extern "C" const char *dtk_getDatadir(void)
{
    return getenv("HV_DATADIR");
}
