// hvext lang: a language code cut into its pieces, and its catalogue directory.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli.h"
#include "hv_ext.h"

namespace hvext {
namespace {

constexpr const char *kHelp =
    "Usage: hvext lang <code> [<component>]\n"
    "\n"
    "Cuts a language code (language_territory[.suffix], such as english_us.utf8)\n"
    "into the pieces the suite uses, one 'label: value' line each:\n"
    "  dir:                 the language directory (english/us)\n"
    "  language:            the language (english)\n"
    "  language_territory:  the code without its suffix (english_us)\n"
    "  catalogues:          the message-catalogue directory of <component>\n"
    "                       (default mail) for that language directory\n"
    "A '.' before the first '_' belongs to the language. A language directory over\n"
    "40 characters, or a catalogue path over 255, is refused with status 1.\n"
    "\n"
    "Options:\n"
    "  -h, --help  display this help and exit\n";

constexpr const char *kDefaultComponent = "mail";

// The two in-place routines, each on a copy of its own.
bool print_cut(const char *label, const char *code, char *(*cut)(char *)) {
    char *copy = ::strdup(code);
    if (copy == nullptr)
        return false;
    std::printf("%s: %s\n", label, cut(copy));
    std::free(copy);
    return true;
}

}  // namespace

int cmd_lang(int argc, char **argv) {
    int first = 0;
    if (int status = scan_operands(argc, argv, kHelp, &first); status >= 0)
        return status;
    if (first >= argc)
        return usage_error(argv[0], "no language code given");
    if (argc - first > 2)
        return usage_error(argv[0], "unexpected argument '%s'", argv[first + 2]);
    const char *code = argv[first];
    const char *component = first + 1 < argc ? argv[first + 1] : kDefaultComponent;

    const char *dir = ext_langtodir(code);
    if (dir == nullptr) {
        complain(argv[0], "'%s': the language directory would be over 40 characters", code);
        return kExitNo;
    }
    std::printf("dir: %s\n", dir);
    if (!print_cut("language", code, ext_langtojlang) ||
        !print_cut("language_territory", code, ext_langtolandt)) {
        complain(argv[0], "out of memory");
        return kExitNo;
    }
    const char *catalogues = ext_BuildCatDir(dir, component);
    if (catalogues == nullptr) {
        complain(argv[0], "the catalogue path for '%s' would be over 255 characters", component);
        return kExitNo;
    }
    std::printf("catalogues: %s\n", catalogues);
    return kExitOk;
}

}  // namespace hvext
