// Language codes of the form language "_" territory ["." suffix] ("english_us",
// "french_fr.ISO8859-1"), cut into the pieces that programs need, and the
// message-catalogue directories under the installation's locale tree. A "." that
// comes before the first "_" is an ordinary character of the language.

#include <cstring>
#include <string_view>

#include "hv_ext.h"
#include "internal/install_root.h"
#include "internal/path_buffer.h"

namespace hv::time {
namespace {

constexpr char kDefaultLanguage[] = "english_us";
constexpr std::size_t kLanguageDirMax = 40;
constexpr auto kLocaleRoot = under_install_root("/server/locale");
constexpr std::string_view kCatalogues = "msgcats";

// Results of ext_langtodir and ext_BuildCatDir. Unguarded by design: each call
// overwrites the last.
constinit char g_language_dir[kLanguageDirMax + 1] = {};
constinit char g_catalogue_dir[kPathMax] = {};

// The "." that begins the suffix of a code: the first one after its first "_".
// Null when the code has no "_" or no such ".".
const char *suffix_dot(const char *lang) {
    const char *underscore = std::strchr(lang, '_');
    return underscore != nullptr ? std::strchr(underscore, '.') : nullptr;
}

// Appends part at *end when it fits the path buffer that begins at start.
bool append(char *start, char *&end, std::string_view part) {
    if (static_cast<std::size_t>(end - start) + part.size() >= kPathMax) return false;
    std::memcpy(end, part.data(), part.size());
    end += part.size();
    *end = '\0';
    return true;
}

}  // namespace
}  // namespace hv::time

using namespace hv;
using namespace hv::time;

extern "C" char *ext_langtodir(const char *lang) noexcept {
    if (lang == nullptr) lang = kDefaultLanguage;
    // The suffix is cut without being copied, so a long one does no harm; only a
    // directory that itself would not fit is refused.
    const char *dot = suffix_dot(lang);
    const std::size_t length =
        dot != nullptr ? static_cast<std::size_t>(dot - lang) : ::strnlen(lang, kLanguageDirMax + 1);
    if (length > kLanguageDirMax) return nullptr;
    std::memmove(g_language_dir, lang, length);  // lang may be an earlier result
    g_language_dir[length] = '\0';
    if (char *underscore = std::strchr(g_language_dir, '_')) *underscore = '/';
    return g_language_dir;
}

extern "C" char *ext_langtojlang(char *lang) noexcept {
    if (lang == nullptr) return nullptr;
    if (char *underscore = std::strchr(lang, '_')) *underscore = '\0';
    return lang;
}

extern "C" char *ext_langtolandt(char *lang) noexcept {
    if (lang == nullptr) return nullptr;
    if (const char *dot = suffix_dot(lang)) lang[dot - lang] = '\0';
    return lang;
}

extern "C" char *ext_BuildCatDir(const char *dir1, const char *dir2) noexcept {
    if (dir1 == nullptr || dir2 == nullptr) return nullptr;
    // Built in a local buffer first, so that a path too long leaves the last
    // result in place.
    char path[kPathMax];
    if (ext_GetActualFName(kLocaleRoot.data(), path) == nullptr) return nullptr;
    char *end = path + std::strlen(path);
    if (!append(path, end, "/") || !append(path, end, bounded_path(dir1)) ||
        !append(path, end, "/") || !append(path, end, bounded_path(dir2)) ||
        !append(path, end, "/") || !append(path, end, kCatalogues))
        return nullptr;
    std::memcpy(g_catalogue_dir, path, static_cast<std::size_t>(end - path) + 1);
    return g_catalogue_dir;
}
