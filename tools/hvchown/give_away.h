// What a file must not carry when it is given to the system account.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

namespace hvchown {

enum class Verdict {
    kGive,
    kSetId,     // a set-id bit or a file capability, which the change would strip
    kWritable,  // others than the account and root could still write it
    kUnknown,   // its extended attributes could not be read
};

// The file open as fd (O_PATH), with status st, about to become uid:gid's.
Verdict judge(int fd, const struct stat &st, uid_t uid, gid_t gid);

}  // namespace hvchown
