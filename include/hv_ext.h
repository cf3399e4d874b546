/*
 * hv_ext.h - the ext utility library of the Morvek Server suite.
 *
 * Every function is a plain C function. Buffers that receive a path take no size:
 * they must hold at least HV_EXT_PATH_MAX bytes, and a result that would not fit
 * is refused with the function's failure value. Functions that may write into a
 * static buffer of the library say so; such a call overwrites the previous result.
 */
#ifndef HV_EXT_H
#define HV_EXT_H

#include <sys/types.h>

/* The library is built with hidden visibility; these are the functions it shows. */
#define HV_EXT_API __attribute__((__visibility__("default")))

#ifdef __cplusplus
#define HV_EXT_NOEXCEPT noexcept
extern "C" {
#else
#define HV_EXT_NOEXCEPT
#endif

/* Size of every path buffer the library reads or writes: at most 255 characters. */
#define HV_EXT_PATH_MAX 256

/* ---- Installation areas ---------------------------------------------------- */

/* Copies the home area into buf; 1. Ends the process (status 98) if there is none. */
HV_EXT_API int ext_GetHomePath(char *buf) HV_EXT_NOEXCEPT;
/* Writes the installation root "/opt/morvek" into buf and returns buf. */
HV_EXT_API char *ext_GetHVBinPath(char *buf) HV_EXT_NOEXCEPT;
/* Copies the UAP area (first line of a Uredirect file, else "/usr/UAP") into buf; 1. */
HV_EXT_API int ext_GetUAPPath(char *buf) HV_EXT_NOEXCEPT;
/* Stores path in slot 0 or 1 if it exists: 1; else 0 and the slot is unchanged. */
HV_EXT_API int ext_SetAlternativeArea(int slot, const char *path) HV_EXT_NOEXCEPT;
/* Copies slot 0 or 1 into buf: 1; 0 and buf untouched if the slot is empty. */
HV_EXT_API int ext_GetAlternativeArea(int slot, char *buf) HV_EXT_NOEXCEPT;
/* Makes the home area the working directory: 1; 0 if chdir failed (errno set). */
HV_EXT_API int ext_CdToHome(void) HV_EXT_NOEXCEPT;
/* Writes "[HV 28506] Which Morvek Server system?\n" to stderr. */
HV_EXT_API void ext_ReportWhichHvSystem(void) HV_EXT_NOEXCEPT;

/* ---- File-name tokens ------------------------------------------------------ */

/* Expands a token ("~/", "~UAP", "@/", "^/", the sendmail paths) into out, or into
 * a static buffer when out is null; other names are copied unchanged. Returns the
 * buffer, or null for a bad "~" name, an empty "@/" slot or a result over 255. */
HV_EXT_API char *ext_GetActualFName(const char *name, char *out) HV_EXT_NOEXCEPT;
/* ext_GetActualFName into a static buffer of its own (not the one above). */
HV_EXT_API char *ext_FullFName(const char *name) HV_EXT_NOEXCEPT;

/* ---- Customise info (the settings of "~/sys/general.cfg") ------------------ */

/* Looks key up, loading the file on first use: 1 and *value points at the value
 * (valid until ext_FreeInfo); 0 when the key is absent or the file failed to load. */
HV_EXT_API int ext_GetCustomiseInfo(const char *key, char **value) HV_EXT_NOEXCEPT;
/* Drops the loaded settings; the next lookup reads the file afresh. */
HV_EXT_API void ext_FreeInfo(void) HV_EXT_NOEXCEPT;

/* ---- System account ---------------------------------------------------------- */

/* Copies the system account's login name "morvek" (7 bytes) into buf. */
HV_EXT_API void ext_GetOrdUserName(char *buf) HV_EXT_NOEXCEPT;
/* Copies the second account name "halvorin" (9 bytes) into buf. */
HV_EXT_API void ext_GetHvUserName(char *buf) HV_EXT_NOEXCEPT;
/* The system account's user id, or 0 when the account cannot be found. */
HV_EXT_API uid_t ext_GetOrdavinUid(void) HV_EXT_NOEXCEPT;
/* The system account's primary group id, or 0 when the account cannot be found. */
HV_EXT_API gid_t ext_GetOrdavinGid(void) HV_EXT_NOEXCEPT;
/* setuid to the account: 0, EINVAL if its uid is 0 (not found), or setuid's errno. */
HV_EXT_API int ext_SetUidToOrdavin(void) HV_EXT_NOEXCEPT;
/* setgid to the account: 0, EINVAL if its gid is 0 (not found), or setgid's errno. */
HV_EXT_API int ext_SetGidToOrdavin(void) HV_EXT_NOEXCEPT;
/* Makes the real group id the effective one when that is the account's group:
 * 0 when done or nothing was needed, else the errno of the failed change. */
HV_EXT_API int ext_SetRGidToOrdavin(void) HV_EXT_NOEXCEPT;
/* 1 when uid is 0 or the system account's user id, else 0. */
HV_EXT_API int ext_IsSuperUser(uid_t uid) HV_EXT_NOEXCEPT;

/* ---- Ownership ------------------------------------------------------------- */

/* Gives the named file (a token or a path) to the system account, running the
 * chown helper when privilege is lacking: 0, an errno value, or the helper's
 * non-zero exit code. */
HV_EXT_API int ext_ChownToOrdavin(const char *name) HV_EXT_NOEXCEPT;
/* The same for an open descriptor; name is used only if the helper must run. */
HV_EXT_API int ext_FChownToOrdavin(int fd, const char *name) HV_EXT_NOEXCEPT;

/* ---- Play-pen list and password ageing --------------------------------------- */

/* 1 when the real user is allowed by "/opt/morvek/bin/hvpp.allow" (read once). */
HV_EXT_API int ext_PlayPenAllowed(void) HV_EXT_NOEXCEPT;
/* 1 when the password of the account (a login name; null allowed) has aged. */
HV_EXT_API int ext_IsPasswordAged(const char *account) HV_EXT_NOEXCEPT;

/* ---- Signals, child reaping, descriptor waits ---------------------------------- */

/* A signal handler as ext_signal takes and returns it. */
typedef void (*ext_sighandler_t)(int);

/* Installs handler for signo (empty mask, no restart): the previous handler,
 * SIG_DFL or SIG_IGN, or SIG_ERR when the change is refused. */
HV_EXT_API ext_sighandler_t ext_signal(int signo, ext_sighandler_t handler) HV_EXT_NOEXCEPT;
/* Reaps every ended child without waiting; signo is not read, so that it can be
 * installed as a SIGCHLD handler ((ext_sighandler_t)ext_reaper). 0 when children
 * remain, -1 when none are left. */
HV_EXT_API int ext_reaper(int signo) HV_EXT_NOEXCEPT;
/* Waits up to usec microseconds for fd (0 to 1023) to become ready for what the
 * non-zero flags ask; rewrites those flags to 1 (ready) or 0. The count of ready
 * conditions, 0 on time-out, -1 with errno (EBADF for fd outside 0 to 1023). */
HV_EXT_API int ext_WaitOnFd(int fd, int *read_wanted, int *write_wanted,
                            int *exception_wanted, unsigned int usec) HV_EXT_NOEXCEPT;

/* ---- Wildcard matching ---------------------------------------------------------- */

/* 1 when the whole string matches the whole shell-style pattern ("*", "?",
 * "[...]", backslash), comparing bytes as signed chars; else 0. */
HV_EXT_API int ext_glob(const char *string, const char *pattern) HV_EXT_NOEXCEPT;
/* ext_glob ignoring case (tolower of the current locale). */
HV_EXT_API int ext_globcase(const char *string, const char *pattern) HV_EXT_NOEXCEPT;

/* ---- Bit maps --------------------------------------------------------------- */

/* First bit index of a run of nbits clear bits in map (size bytes), passing over
 * skip non-full bytes first; -1 when there is none or the arguments are invalid. */
HV_EXT_API int ext_FindBits(unsigned char *map, int size, int nbits, int skip) HV_EXT_NOEXCEPT;
/* Sets (set non-zero) or clears count bits from bit first; bits beyond the map are
 * ignored. */
HV_EXT_API void ext_SetBits(unsigned char *map, int size, int first, int count,
                            int set) HV_EXT_NOEXCEPT;
/* 1 when every bit of the range inside the map is set (set non-zero) or clear. */
HV_EXT_API int ext_CheckBits(unsigned char *map, int size, int first, int count,
                             int set) HV_EXT_NOEXCEPT;

/* ---- String utilities and CRC-16 ------------------------------------------------- */

/* Replaces in str each character found in from by the one at the same position
 * in to; the length of str. */
HV_EXT_API int ext_TranslateChars(char *str, const char *from, const char *to) HV_EXT_NOEXCEPT;
/* 0 when a and b are equal ignoring case in their first n characters, else 1. */
HV_EXT_API int ext_cicmp(const char *a, const char *b, int n) HV_EXT_NOEXCEPT;
/* Lower-case copy of src into dst, or into a static buffer when dst is null. */
HV_EXT_API char *ext_DownString(char *dst, const char *src) HV_EXT_NOEXCEPT;
/* Upper-case copy of src into dst, or into a static buffer when dst is null. */
HV_EXT_API char *ext_UpString(char *dst, const char *src) HV_EXT_NOEXCEPT;
/* Splits a command line into at most maxargs words in buf (strlen(str) + 1
 * bytes); *argcp receives the count and argv (maxargs + 1 slots) the words. */
HV_EXT_API void ext_ConvStr2ArgV(const char *str, int maxargs, char *buf, int *argcp,
                                 char **argv) HV_EXT_NOEXCEPT;
/* The CRC-16 of len bytes of data, 0 to 65535. */
HV_EXT_API int ext_CRC16(const unsigned char *data, int len) HV_EXT_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
