#define _GNU_SOURCE
#define _FILE_OFFSET_BITS 64

#include "namespace.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

static int write_proc(const char *path, const char *text)
{
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    size_t len = strlen(text);
    ssize_t n = write(fd, text, len);
    int saved = errno;
    close(fd);
    errno = saved;
    return n == (ssize_t)len ? 0 : -1;
}

/* Only our own ids can be mapped without privilege, and the gid map is refused
 * until setgroups has been denied for the namespace. */
static int map_to_root(uid_t uid, gid_t gid, char *err, size_t size)
{
    char line[64];
    snprintf(line, sizeof line, "0 %lu 1\n", (unsigned long)uid);
    if (write_proc("/proc/self/uid_map", line) != 0) {
        snprintf(err, size, "cannot write /proc/self/uid_map: %s", strerror(errno));
        return -1;
    }
    if (write_proc("/proc/self/setgroups", "deny\n") != 0 && errno != ENOENT) {
        snprintf(err, size, "cannot write /proc/self/setgroups: %s", strerror(errno));
        return -1;
    }
    snprintf(line, sizeof line, "0 %lu 1\n", (unsigned long)gid);
    if (write_proc("/proc/self/gid_map", line) != 0) {
        snprintf(err, size, "cannot write /proc/self/gid_map: %s", strerror(errno));
        return -1;
    }
    return 0;
}

/* EINVAL is what a threaded caller gets: a setup fault, not a missing feature. */
static int namespaces_missing(int err)
{
    return err == EPERM || err == ENOSPC || err == EUSERS || err == ENOSYS ||
           err == EACCES;
}

static int enter_user_namespace(char *err, size_t size, int *unavailable)
{
    uid_t uid = geteuid();
    gid_t gid = getegid();
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
        int saved = errno;
        *unavailable = namespaces_missing(saved);
        snprintf(err, size, "cannot enter a user namespace: unshare: %s%s",
                 strerror(saved),
                 saved == EINVAL ? " (the process is threaded: run it through the "
                                   "sandbox launcher)" : "");
        return -1;
    }
    return map_to_root(uid, gid, err, size);
}

/* Root inside a user namespace (a rootless container, unshare -r) may make mounts
 * but cannot act as other users: only the identity map of the first namespace
 * is the real root. */
static int in_initial_user_namespace(void)
{
    FILE *map = fopen("/proc/self/uid_map", "re");
    if (map == NULL)
        return 0;
    unsigned long inside, outside, count;
    int fields = fscanf(map, "%lu %lu %lu", &inside, &outside, &count);
    int more = fscanf(map, "%lu", &inside);
    fclose(map);
    return fields == 3 && more != 1 && inside == 0 && outside == 0 && count == 4294967295UL;
}

int hv_ns_enter(char *err, size_t size, int *unavailable)
{
    int mode = HV_NS_ROOT;
    *unavailable = 0;
    if (geteuid() != 0) {
        mode = HV_NS_USER;
        if (enter_user_namespace(err, size, unavailable) != 0)
            return HV_NS_NONE;
    } else if (unshare(CLONE_NEWNS) == 0) {
        if (!in_initial_user_namespace())
            mode = HV_NS_USER;
    } else {
        /* A root without CAP_SYS_ADMIN (a container) may still own a user
         * namespace; tests then run as in the unprivileged mode. */
        int saved = errno;
        if (saved != EPERM) {
            snprintf(err, size, "cannot enter a mount namespace: unshare: %s",
                     strerror(saved));
            return HV_NS_NONE;
        }
        mode = HV_NS_USER;
        if (enter_user_namespace(err, size, unavailable) != 0)
            return HV_NS_NONE;
    }
    /* Without this, mounts made below would propagate back to the host's peers. */
    if (mount(NULL, "/", NULL, MS_REC | MS_PRIVATE, NULL) != 0) {
        snprintf(err, size, "cannot make the mounts private: %s", strerror(errno));
        return HV_NS_NONE;
    }
    return mode;
}

static int mount_namespace_inode(unsigned long long *ino)
{
    struct stat st;
    if (stat("/proc/self/ns/mnt", &st) != 0)
        return -1;
    *ino = (unsigned long long)st.st_ino;
    return 0;
}

int hv_ns_export(const char *var, int mode)
{
    unsigned long long ino;
    if (mount_namespace_inode(&ino) != 0)
        return -1;
    char value[64];
    snprintf(value, sizeof value, "%s:%llu", mode == HV_NS_ROOT ? "root" : "user", ino);
    return setenv(var, value, 1);
}

int hv_ns_inherited(const char *var)
{
    const char *value = getenv(var);
    if (value == NULL)
        return HV_NS_NONE;
    int mode;
    if (strncmp(value, "root:", 5) == 0)
        mode = HV_NS_ROOT;
    else if (strncmp(value, "user:", 5) == 0)
        mode = HV_NS_USER;
    else
        return HV_NS_NONE;
    char *end;
    errno = 0;
    unsigned long long recorded = strtoull(value + 5, &end, 10);
    unsigned long long ino;
    if (errno != 0 || *end != '\0' || mount_namespace_inode(&ino) != 0 || ino != recorded)
        return HV_NS_NONE;
    return mode;
}
