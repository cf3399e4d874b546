/* hv_launcher EMULATOR ARGS...: enters the test sandbox's namespaces natively and
 * execs its arguments inside them (qemu-i386 running a test program). The test
 * main, told so through HV_TEST_NAMESPACE, then only lays out the installation.
 * Listing the tests needs no namespace and passes straight through. */
#define _GNU_SOURCE

#include "namespace.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static int only_lists_tests(char **argv)
{
    for (; *argv != NULL; ++argv)
        if (strncmp(*argv, "--gtest_list_tests", 18) == 0)
            return 1;
    return 0;
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: hv_launcher PROGRAM [ARG...]\n");
        return 2;
    }
    if (!only_lists_tests(argv + 1)) {
        char err[256];
        int unavailable;
        int mode = hv_ns_enter(err, sizeof err, &unavailable);
        if (mode == HV_NS_NONE) {
            fprintf(stderr, "hv-test: %s\n", err);
            return unavailable ? HV_NS_EXIT_UNAVAILABLE : 1;
        }
        if (hv_ns_export(HV_NS_ENTERED_ENV, mode) != 0) {
            fprintf(stderr, "hv-test: cannot record the namespace: %s\n", strerror(errno));
            return 1;
        }
    }
    execvp(argv[1], argv + 1);
    fprintf(stderr, "hv-test: cannot run %s: %s\n", argv[1], strerror(errno));
    return 127;
}
