// File-name tokens: "~/..." (home area, or the installation root for ~/bin,
// ~/diag and ~/newconfig), "~UAP", "@/" (alternative slot 1), "^/" (installation
// root) and the two sendmail paths, expanded into absolute paths. Every other name
// is copied unchanged. The result is built straight into the caller's buffer.

#include <cstring>
#include <string_view>

#include "hv_ext.h"
#include "internal/install_root.h"
#include "internal/path_buffer.h"
#include "paths/areas.h"
#include "sxl.h"

namespace hv::paths {
namespace {

// Results for callers that pass no buffer, and ext_FullFName's own. Unguarded by
// design: each call overwrites the last, so threads pass buffers of their own.
constinit char g_default_result[kPathMax] = {};
constinit char g_full_name[kPathMax] = {};

// How much of a name is looked at. A token drops at most 18 characters of the name
// (a sendmail prefix, replaced by at least 17), so a name this long cannot give a
// result that fits a path buffer and its length need not be known exactly.
constexpr std::size_t kNameScan = kPathMax + 32;

constexpr std::string_view kSlibSendmail = "/usr/slib/sendmail";
constexpr std::string_view kLibSendmail = "/usr/lib/sendmail";

// The name past its first n characters (n within the name). substr would do, but
// its range check can throw, and the library carries no C++ runtime.
std::string_view after(std::string_view name, std::size_t n) {
    return {name.data() + n, name.size() - n};
}

// True when name begins with word. (string_view::starts_with goes through the
// range-checked substr in unoptimised builds.)
bool begins(std::string_view name, std::string_view word) {
    return name.size() >= word.size() && std::memcmp(name.data(), word.data(), word.size()) == 0;
}

// True when name begins with word and the word ends the name or a component.
bool begins_component(std::string_view name, std::string_view word) {
    return begins(name, word) && (name.size() == word.size() || name[word.size()] == '/');
}

char *result(bool joined, char *out) { return joined ? out : nullptr; }

char *resolve_tilde(std::string_view name, char *out) {
    if (begins(name, "~/")) {
        const std::string_view rest = after(name, 1);
        if (begins_component(name, "~/bin") || begins_component(name, "~/diag") ||
            begins_component(name, "~/newconfig"))
            return result(join_path(out, kInstallRoot, rest), out);
        return result(join_home(out, rest), out);
    }
    if (begins_component(name, "~UAP")) return result(join_uap(out, after(name, 4)), out);
    return nullptr;  // a lone "~", ~user, ~UAPX: no such token
}

// Which of the two sendmail paths to use: the first that exists, tried in a fixed
// order whichever one the name spelled; asked afresh on every call.
std::string_view existing_sendmail() {
    sxl_statbuf st;
    if (sxl_stat(kSlibSendmail.data(), &st) != -1) return kSlibSendmail;
    if (sxl_stat(kLibSendmail.data(), &st) != -1) return kLibSendmail;
    return kSlibSendmail;
}

// The length of the sendmail path that name begins with as a whole component, or 0.
std::size_t sendmail_prefix(std::string_view name) {
    const std::size_t length = begins(name, kSlibSendmail) ? kSlibSendmail.size()
                               : begins(name, kLibSendmail) ? kLibSendmail.size()
                                                                : 0;
    return length != 0 && begins_component(name, {name.data(), length}) ? length : 0;
}

}  // namespace
}  // namespace hv::paths

using namespace hv;
using namespace hv::paths;

extern "C" char *ext_GetActualFName(const char *name, char *out) noexcept {
    if (name == nullptr) return nullptr;
    if (out == nullptr) out = g_default_result;
    const std::string_view view{name, ::strnlen(name, kNameScan)};

    if (begins(view, "~")) return resolve_tilde(view, out);
    if (begins(view, "@/")) return result(join_alternative(1, out, after(view, 1)), out);
    if (begins(view, "^/")) return result(join_path(out, kInstallRoot, after(view, 1)), out);
    if (const std::size_t prefix = sendmail_prefix(view))
        return result(join_path(out, existing_sendmail(), after(view, prefix)), out);
    return result(join_path(out, view, {}), out);
}

extern "C" char *ext_FullFName(const char *name) noexcept {
    return ext_GetActualFName(name, g_full_name);
}
