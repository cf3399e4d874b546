// What the family tests have in common: GoogleTest, the library's header, the harness, the
// fault seam and sweep, and the standard headers most of them use.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "harness.h"
#include "hv_ext.h"
#include "seam.h"
#include "sweep.h"
