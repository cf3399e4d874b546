/* A C99 program of the suite: the public header must compile cleanly as strict
 * C99, and the library must link and answer without any C++ runtime. */
#include <hv_ext.h>

#include <stdio.h>
#include <string.h>

static int failures;

static void expect_str(const char *what, const char *got, const char *want)
{
    if (got == NULL || strcmp(got, want) != 0) {
        fprintf(stderr, "%s: got \"%s\", want \"%s\"\n", what, got ? got : "(null)", want);
        ++failures;
    }
}

static void expect_true(const char *what, int ok)
{
    if (!ok) {
        fprintf(stderr, "%s: failed\n", what);
        ++failures;
    }
}

int main(void)
{
    char buf[HV_EXT_PATH_MAX];
    char *static_result;

    expect_true("ext_GetHVBinPath returns its buffer", ext_GetHVBinPath(buf) == buf);
    expect_str("ext_GetHVBinPath", buf, "/opt/morvek");

    expect_str("ext_GetActualFName(^/etc/x)", ext_GetActualFName("^/etc/x", buf),
               "/opt/morvek/etc/x");
    expect_str("ext_GetActualFName(~/bin/hvchown)", ext_GetActualFName("~/bin/hvchown", buf),
               "/opt/morvek/bin/hvchown");
    expect_true("ext_GetActualFName(~user/x) fails", ext_GetActualFName("~user/x", buf) == NULL);

    static_result = ext_GetActualFName("relative/name", NULL);
    expect_str("ext_GetActualFName(relative/name, NULL)", static_result, "relative/name");
    expect_true("ext_FullFName has a buffer of its own",
                ext_FullFName("/etc/passwd") != static_result);

    strcpy(buf, "untouched");
    expect_true("ext_GetAlternativeArea on an empty slot", ext_GetAlternativeArea(1, buf) == 0);
    expect_str("ext_GetAlternativeArea leaves buf", buf, "untouched");
    expect_true("ext_GetActualFName(@/x) with slot 1 empty", ext_GetActualFName("@/x", buf) == NULL);

    expect_true("ext_SetAlternativeArea(1, /)", ext_SetAlternativeArea(1, "/") == 1);
    expect_true("ext_GetAlternativeArea after set", ext_GetAlternativeArea(1, buf) == 1);
    expect_str("ext_GetAlternativeArea", buf, "/");

    return failures == 0 ? 0 : 1;
}
