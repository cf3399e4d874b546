// hvchown: gives one file of the suite to the system account.
//
//   hvchown PATH UID GID
//
// ext_ChownToOrdavin and ext_FChownToOrdavin run it when the calling process may
// not change an owner itself, so it is installed with that privilege, either
//   setcap cap_chown+ep /opt/morvek/bin/hvchown         (CAP_CHOWN and nothing else)
// or
//   chown root:root /opt/morvek/bin/hvchown && chmod 4755 /opt/morvek/bin/hvchown
// The file capability is the better choice: a mistake here can then change owners
// and do nothing else. Both make the kernel run it in secure mode (AT_SECURE): the
// dynamic linker ignores LD_* variables and glibc opens /dev/null on a closed
// standard descriptor, so no message can land in the file being changed.
//
// Any local user may run it with any arguments. It changes an owner only when
//   - UID and GID are the system account's, in plain decimal;
//   - PATH is absolute, has no ".." component, and lies in the home area, the
//     installation root or the UAP area (equal to one, or below it after a "/");
//   - no component below that area is a symbolic link;
//   - the file is a directory, or a regular file with one link (a second name
//     would hand over a file that lives elsewhere too);
//   - the file belongs to the caller's real user, or the caller is root;
//   - a regular file carries no set-id bit and no file capability: the change
//     would strip them, and a program the suite runs would quietly change;
//   - after the change no one but the account and root could write it: not
//     others by its mode, not the caller through its group or an ACL entry, so
//     that no one plants a file the suite trusts because it is its own.
// A file that is the account's already is left as it is.
//
// Run with privilege (AT_SECURE), it takes nothing from its environment: the
// environment is cleared and the home area is read from HV_HELPER_HOME_FILE, a
// file beside the helper that root, and only root, can have written. Directories
// are searched and files examined with the caller's own rights (the file-system
// ids), so a setuid copy answers as one with CAP_CHOWN would; only the change
// itself is made with the privilege. The file is examined through one descriptor
// and changed through the same one, so it cannot be swapped for another between
// the checks and the change.
//
// Exit codes; every refusal writes exactly one line on stderr:
//    0  the file belongs to UID:GID (changed, or it already did)
//    2  usage: not exactly three arguments
//    3  UID or GID is not a plain decimal number of the id type
//    4  UID or GID is not the system account's (or there is no such account)
//    5  PATH is relative or has a ".." component
//    6  PATH is outside the home area, installation root and UAP area
//    7  a component below the area (the file itself included) is a symbolic link
//    8  the file is neither a regular file nor a directory
//    9  the file is a regular file with more than one hard link
//   10  the file could not be opened or examined (missing, no permission ...)
//   11  the change itself failed
//   12  the file belongs to another user than the caller
//   13  the file carries a set-id bit or a file capability
//   14  others than the account and root could still write the file
//   98  the installation has no home area (the library's own message)
// Code 1 is never used: the library reports 1 when the helper could not be run.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "../common/quote.h"
#include "give_away.h"
#include "hv_ext.h"
#include "open_below.h"
#include "privilege.h"

namespace hvchown {
namespace {

enum Exit : int {
    kChanged = 0,
    kUsage = 2,
    kBadNumber = 3,
    kWrongAccount = 4,
    kBadPath = 5,
    kOutside = 6,
    kLink = 7,
    kNotFileOrDir = 8,
    kHardLinks = 9,
    kCannotOpen = 10,
    kChangeFailed = 11,
    kNotYours = 12,
    kSetId = 13,
    kWritable = 14,
    kNoHomeArea = 98,
};

constexpr const char *kHelp =
    "Usage: hvchown <path> <uid> <gid>\n"
    "\n"
    "Gives a file of the Morvek Server installation to the system account. The\n"
    "ext library runs it when its caller lacks the privilege to change an owner.\n"
    "<uid> and <gid> must be the system account's ids in decimal; <path> must be\n"
    "absolute, without \"..\", inside the home area, the installation root or the\n"
    "UAP area, with no symbolic link below the area; the file must be a directory\n"
    "or a regular file with one link, belong to the caller, carry no set-id bit\n"
    "or file capability, and be writable by no one but the account and root\n"
    "once given.\n"
    "\n"
    "Exit status: 0 done, 2 usage, 3 bad number, 4 wrong uid or gid,\n"
    "5 relative path or \"..\", 6 outside the areas, 7 symbolic link,\n"
    "8 neither file nor directory, 9 more than one hard link, 10 cannot open,\n"
    "11 change failed, 12 another user's file, 13 set-id or capability,\n"
    "14 writable by others, 98 no home area.\n";

// One line on stderr: the path, escaped so that the message stays one line and
// writes no terminal sequence into a log, then the reason.
int refuse(Exit code, const char *path, const char *why, int err = 0) {
    std::fputs("hvchown: ", stderr);
    if (path != nullptr) {
        hvtools::put_quoted(stderr, path);
        std::fputs(": ", stderr);
    }
    if (err != 0)
        std::fprintf(stderr, "%s: %s\n", why, std::strerror(err));
    else
        std::fprintf(stderr, "%s\n", why);
    return code;
}

// Digits only: no sign, no blank, nothing the id type cannot hold.
template <typename Id>
bool parse_id(const char *text, Id *id) {
    if (*text == '\0') return false;
    unsigned long long value = 0;
    for (const char *p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + static_cast<unsigned>(*p - '0');
        if (value > std::numeric_limits<Id>::max()) return false;
    }
    *id = static_cast<Id>(value);
    return true;
}

bool has_dot_dot(const char *path) {
    for (const char *p = path; *p != '\0';) {
        const std::size_t length = std::strcspn(p, "/");
        if (length == 2 && p[0] == '.' && p[1] == '.') return true;
        p += length;
        if (*p == '/') ++p;
    }
    return false;
}

// The area's length without trailing slashes; 0 for an area that can hold
// nothing: empty, relative, or the root directory itself.
std::size_t area_length(const char *area) {
    if (area[0] != '/') return 0;
    std::size_t length = std::strlen(area);
    while (length > 0 && area[length - 1] == '/') --length;
    return length;
}

bool inside(const char *path, const char *area, std::size_t length) {
    return length > 0 && std::strncmp(path, area, length) == 0 &&
           (path[length] == '\0' || path[length] == '/');
}

struct Area {
    char path[HV_EXT_PATH_MAX];
    std::size_t length;
};

// Of the areas that hold path, the shortest: the more of the path lies below the
// area, the more of it is walked without following links.
bool find_area(const char *path, Area *found) {
    Area areas[3];
    ext_GetHomePath(areas[0].path);
    ext_GetHVBinPath(areas[1].path);
    ext_GetUAPPath(areas[2].path);
    bool any = false;
    for (Area &area : areas) {
        area.length = area_length(area.path);
        if (inside(path, area.path, area.length) && (!any || area.length < found->length)) {
            *found = area;
            any = true;
        }
    }
    return any;
}

int give(const char *path, uid_t uid, gid_t gid) {
    if (path[0] != '/' || has_dot_dot(path))
        return refuse(kBadPath, path, "not an absolute path without \"..\"");
    Area area;
    if (!find_area(path, &area))
        return refuse(kOutside, path, "outside the installation's areas");

    const hv::PathFd fd = open_below(area.path, area.length, path);
    if (!fd && errno == ELOOP) return refuse(kLink, path, "symbolic link in the path");
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0)
        return refuse(kCannotOpen, path, "cannot open", errno);
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        return refuse(kNotFileOrDir, path, "neither a regular file nor a directory");
    if (S_ISREG(st.st_mode) && st.st_nlink > 1)
        return refuse(kHardLinks, path, "file has more than one link");
    if (st.st_uid == uid && st.st_gid == gid) return kChanged;
    if (::getuid() != 0 && st.st_uid != ::getuid())
        return refuse(kNotYours, path, "belongs to another user");
    switch (judge(fd.get(), st, uid, gid)) {
        case Verdict::kGive:
            break;
        case Verdict::kSetId:
            return refuse(kSetId, path, "carries a set-id bit or a file capability");
        case Verdict::kWritable:
            return refuse(kWritable, path, "others could still write it");
        case Verdict::kUnknown:
            return refuse(kCannotOpen, path, "cannot read its attributes", errno);
    }
    // An O_PATH descriptor is changed with AT_EMPTY_PATH: the same file that was
    // examined, not whatever the name leads to now.
    change_as_helper();
    if (::fchownat(fd.get(), "", uid, gid, AT_EMPTY_PATH) != 0)
        return refuse(kChangeFailed, path, "cannot change the owner", errno);
    return kChanged;
}

}  // namespace
}  // namespace hvchown

int main(int argc, char **argv) {
    using namespace hvchown;
    if (!take_nothing_from_caller()) {
        ext_ReportWhichHvSystem();
        return kNoHomeArea;
    }
    search_as_caller();
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kHelp, stdout);
        return kChanged;
    }
    if (argc != 4) return refuse(kUsage, nullptr, "usage: hvchown PATH UID GID");

    uid_t uid = 0;
    gid_t gid = 0;
    if (!parse_id(argv[2], &uid) || !parse_id(argv[3], &gid))
        return refuse(kBadNumber, nullptr, "UID and GID must be plain decimal ids");
    // An id of 0 from the library means there is no account: never give to root.
    const uid_t account_uid = ext_GetOrdavinUid();
    const gid_t account_gid = ext_GetOrdavinGid();
    if (account_uid == 0 || account_gid == 0 || uid != account_uid || gid != account_gid)
        return refuse(kWrongAccount, nullptr, "UID and GID must be the system account's");
    return give(argv[1], uid, gid);
}
