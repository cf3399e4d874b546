// Password ageing: has an account's password aged, by the ageing text that the
// platform call layer gives for it and the current week?

#include <cstring>

#include "account/password_age.h"
#include "hv_ext.h"
#include "sxl.h"

namespace hv::account {
namespace {

// One character more than any text that can age tells every longer text apart.
constexpr std::size_t kTextScan = 5;

// Signed division truncates towards zero, as the week count always has.
long long current_week() { return static_cast<long long>(sxl_time(nullptr)) / kSecondsPerWeek; }

}  // namespace
}  // namespace hv::account

using namespace hv::account;

extern "C" int ext_IsPasswordAged(const char *account) noexcept {
    if (account == nullptr) return 0;
    const char *text = sxl_getpwdage(account);
    if (text == nullptr) return 0;
    return password_aged({text, ::strnlen(text, kTextScan)}, current_week) ? 1 : 0;
}
