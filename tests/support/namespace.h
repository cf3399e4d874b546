/* Entering the test sandbox's namespaces. Plain C, shared by the test main and by
 * the native launcher that the i386 build puts in front of qemu-i386: qemu-user
 * starts threads, and a threaded process can no longer enter a user namespace. */
#ifndef HV_TEST_NAMESPACE_H
#define HV_TEST_NAMESPACE_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* How the sandbox was entered. */
enum {
    HV_NS_NONE = 0,
    HV_NS_ROOT = 1, /* the real root: a private mount namespace only */
    HV_NS_USER = 2  /* a user namespace mapping our own ids to 0 */
};

/* Exit status of a test program that cannot enter any namespace on this machine;
 * CTest reports it as skipped. Every other failure of the harness exits with 1. */
#define HV_NS_EXIT_UNAVAILABLE 77

/* Set by whoever entered the namespace for a program that lays out the sandbox:
 * "root:<inode>" or "user:<inode>", the inode naming the mount namespace. */
#define HV_NS_ENTERED_ENV "HV_TEST_NAMESPACE"
/* Set once the installation is laid out, same format: a program started inside
 * the sandbox (a re-executed death test) must not lay it out again. */
#define HV_NS_READY_ENV "HV_TEST_SANDBOX"

/* Enters a private mount namespace (and a user namespace unless we are the real
 * root) and makes every mount private, so nothing done later reaches the host.
 * Returns HV_NS_ROOT or HV_NS_USER; on failure returns HV_NS_NONE with a one-line
 * reason in err and *unavailable set when this machine offers no namespace to us. */
int hv_ns_enter(char *err, size_t size, int *unavailable);

/* Records the mode in the named variable, bound to the current mount namespace.
 * Returns 0, or -1 with errno set. */
int hv_ns_export(const char *var, int mode);

/* The mode recorded in the named variable, if it was recorded in the mount
 * namespace we are in now; HV_NS_NONE otherwise (unset, garbled, or leaked from
 * another namespace, which must never count as being inside the sandbox). */
int hv_ns_inherited(const char *var);

#ifdef __cplusplus
}
#endif

#endif
