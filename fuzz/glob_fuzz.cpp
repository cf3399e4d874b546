// ext_glob and ext_globcase against the recursive reference walk. Input: the
// pattern, a NUL, the string. The reference costs about (string length) to the
// power of the stars, so it is asked only where that stays small; the library is
// run on everything.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "hv_ext.h"
#include "reference_text.h"
#include "fuzz_support.h"

namespace {

constexpr double kReferenceSteps = 2e5;

bool reference_affordable(const char *string, const char *pattern) {
    const double positions = static_cast<double>(std::strlen(string)) + 1;
    double steps = 1;
    for (const char *p = pattern; *p != '\0'; ++p)
        if (*p == '*' && (steps *= positions) > kReferenceSteps) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    using namespace hv::fuzz;
    Bytes in{data, size};
    const Text pattern(take_part(in));
    const Text string(in);
    const int exact = ext_glob(string.get(), pattern.get());
    const int folded = ext_globcase(string.get(), pattern.get());
    if (!reference_affordable(string.get(), pattern.get())) return 0;
    if (exact != hv::reference::glob(string.get(), pattern.get(), false))
        mismatch("ext_glob and the reference differ");
    if (folded != hv::reference::glob(string.get(), pattern.get(), true))
        mismatch("ext_globcase and the reference differ");
    return 0;
}
