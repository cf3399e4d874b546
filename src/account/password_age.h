// The password-ageing text of the platform call layer, judged against a week.
#pragma once

#include <string_view>

namespace hv::account {

inline constexpr long long kSecondsPerWeek = 604800;

// A digit of the text's base-64 alphabet "./0-9A-Za-z"; anything else counts as 0.
constexpr int age_digit(char c) {
    if (c == '/') return 1;
    if (c >= '0' && c <= '9') return c - '0' + 2;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 12;
    if (c >= 'a' && c <= 'z') return c - 'a' + 38;
    return 0;
}

// A text of one or two characters has aged whatever it says. Four characters
// carry the week of the last change in the last two, low digit first; the password
// has aged once that week is past. Any other length never ages. current_week is
// asked only when the text is dated.
template <typename CurrentWeek>
constexpr bool password_aged(std::string_view text, CurrentWeek current_week) {
    if (text.size() == 1 || text.size() == 2) return true;
    if (text.size() != 4) return false;
    const long long changed = age_digit(text[2]) + 64LL * age_digit(text[3]);
    return current_week() > changed;
}

}  // namespace hv::account
