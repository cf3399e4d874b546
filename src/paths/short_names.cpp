// The reverse of token expansion for the two areas a program writes names under:
// the home area ("~") and alternative slot 1 ("@"); and two small name helpers.

#include <cstring>
#include <string_view>

#include "hv_ext.h"
#include "internal/path_buffer.h"
#include "paths/areas.h"

using namespace hv;

namespace {

bool is_token(std::string_view name) {
    return name.size() >= 2 && name[1] == '/' &&
           (name[0] == '@' || name[0] == '~' || name[0] == '^');
}

// Writes mark followed by name past the area into out when name begins with
// area. The comparison is a plain byte prefix: /srv/mailbox lies "under"
// /srv/mail, as it always has for the suite's programs.
bool shorten(std::string_view name, std::string_view area, std::string_view mark, char *out) {
    if (name.size() < area.size() || std::memcmp(name.data(), area.data(), area.size()) != 0)
        return false;
    return join_path(out, mark, {name.data() + area.size(), name.size() - area.size()});
}

}  // namespace

extern "C" int ext_GetShortFName(const char *name, char *out) noexcept {
    if (out == nullptr) return 0;
    out[0] = '\0';
    if (name == nullptr) return 0;
    const std::string_view view = bounded_path(name);
    if (!join_path(out, view, {})) return 0;
    if (is_token(view)) return 1;

    char area[kPathMax];
    ext_GetHomePath(area);
    if (shorten(view, area, "~", out)) return 1;
    if (paths::join_alternative(1, area, {}) && shorten(view, area, "@", out)) return 1;
    return 0;
}

extern "C" char *ext_BaseName(char *path) noexcept {
    if (path == nullptr) return nullptr;
    char *slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

extern "C" int ext_CheckFileName(const char *name) noexcept {
    if (name == nullptr) return 0;
    for (; *name != '\0'; ++name) {
        const unsigned char c = static_cast<unsigned char>(*name);
        const bool alnum = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!alnum) return 0;
    }
    return 1;
}
