// The site-string library: the site's string for KEY is the environment variable
// HV_SITE_<KEY>.

// Built with hidden visibility: the calls declared here are the ones it shows.
#pragma GCC visibility push(default)
#include "tayl.h"
#pragma GCC visibility pop

#include <cstdlib>
#include <cstring>

namespace {

constexpr char kPrefix[] = "HV_SITE_";
constexpr size_t kPrefixLen = sizeof kPrefix - 1;
constexpr size_t kNameMax = 128;

}  // namespace

// A key that would make no variable name of its own (empty, holding '=', or too
// long for the name buffer) has no string.
extern "C" const char *tayl_GetString(const char *key, int, int, int)
{
    if (key == nullptr || *key == '\0' || strchr(key, '=') != nullptr)
        return nullptr;
    size_t key_len = strnlen(key, kNameMax);
    if (kPrefixLen + key_len >= kNameMax)
        return nullptr;
    char name[kNameMax];
    memcpy(name, kPrefix, kPrefixLen);
    memcpy(name + kPrefixLen, key, key_len + 1);
    return getenv(name);
}
