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
#include <time.h>

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

/* Copies the home area into buf; 1 (0 for a null buf). Ends the process (status
 * 98) if there is none. */
HV_EXT_API int ext_GetHomePath(char *buf) HV_EXT_NOEXCEPT;
/* Writes the installation root "/opt/morvek" into buf and returns buf. */
HV_EXT_API char *ext_GetHVBinPath(char *buf) HV_EXT_NOEXCEPT;
/* Copies the UAP area (first line of a Uredirect file, else "/usr/UAP") into buf;
 * 1 (0 for a null buf). */
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

/* ---- Short names and name checks ----------------------------------------------- */

/* Shortens a path under the home area into "~..." or under alternative slot 1
 * into "@..." (plain byte prefixes, home first) in out (256 bytes, not name): 1;
 * a name that already is a "~/", "@/" or "^/" token is copied: 1; otherwise out
 * gets a copy of name: 0. A name of 256 characters or more gives "" and 0. */
HV_EXT_API int ext_GetShortFName(const char *name, char *out) HV_EXT_NOEXCEPT;
/* The part of path after its last "/" (a pointer into path), or path itself. */
HV_EXT_API char *ext_BaseName(char *path) HV_EXT_NOEXCEPT;
/* 1 when name holds only ASCII letters and digits (the empty name too), else 0. */
HV_EXT_API int ext_CheckFileName(const char *name) HV_EXT_NOEXCEPT;

/* ---- File queries ------------------------------------------------------------- */

/* 1 when path (not a token) exists with mode bit 0x4000 set: directories, and
 * also block devices and sockets; else 0. */
HV_EXT_API int ext_dexists(const char *path) HV_EXT_NOEXCEPT;
/* 1 when path (not a token) exists, whatever its kind; else 0. */
HV_EXT_API int ext_fexists(const char *path) HV_EXT_NOEXCEPT;
/* The modification time of the named file (token or path), or 0 when the name
 * cannot be resolved or the file examined. */
HV_EXT_API time_t ext_LastModTimeOfFile(const char *name) HV_EXT_NOEXCEPT;
/* The file-system kind of fd's file system, as the platform reports it. */
HV_EXT_API int ext_fstype(int fd) HV_EXT_NOEXCEPT;
/* The system start count (4 bytes at offset 40 of "~/sys/sysdata"), or 0 when it
 * cannot be read; kept once it is not 0. */
HV_EXT_API int ext_GetSystemStartCount(void) HV_EXT_NOEXCEPT;

/* ---- Local time offset, time-zone names, language codes ------------------------- */

/* Seconds since 1970 of tm taken as UTC, from tm_year, tm_yday, tm_hour, tm_min and
 * tm_sec only (every fourth year from 1972 a leap year): exact from 1969 to 2038;
 * other values wrap in 32-bit arithmetic. 0 for a null tm. */
HV_EXT_API int ext_TmConv(const struct tm *tm) HV_EXT_NOEXCEPT;
/* UTC minus local time now, in seconds (-3600 for UTC+1), kept for 3,600 seconds
 * from its computation; 0 when the C library cannot convert the time. */
HV_EXT_API int ext_TimeDiff(void) HV_EXT_NOEXCEPT;
/* The site's TIMEZONE_NAME, else the first usable line of "/etc/timezone" (one
 * leading double quote and a closing one dropped); kept for the process once
 * found. Null when neither gives one. Not to be freed or changed. */
HV_EXT_API const char *ext_GetSystemTimezoneName(void) HV_EXT_NOEXCEPT;
/* Looks alias up (case-insensitively) in "~/sys/TimeZoneMap", the last matching
 * line winning; 1 and its TZID in tzid (80 bytes), or 0 with "Europe/London" in
 * tzid. A TZID over 79 characters ends the search. A null tzid gives 0. */
HV_EXT_API int ext_GetTZIDFromAlias(const char *alias, char *tzid) HV_EXT_NOEXCEPT;
/* A static buffer with lang (null: "english_us") as "language/territory", any
 * "." suffix cut; a code without "_" as it is. Null, and the buffer unchanged,
 * when that result would be longer than 40 characters. */
HV_EXT_API char *ext_langtodir(const char *lang) HV_EXT_NOEXCEPT;
/* Cuts lang in place before its first "_" and returns it (null for null). */
HV_EXT_API char *ext_langtojlang(char *lang) HV_EXT_NOEXCEPT;
/* Cuts lang in place at the first "." after its first "_" and returns it (null
 * for null). */
HV_EXT_API char *ext_langtolandt(char *lang) HV_EXT_NOEXCEPT;
/* A static buffer holding "/opt/morvek/server/locale/DIR1/DIR2/msgcats". Null, and
 * the buffer unchanged, for a null argument or a path over 255 characters (dir1
 * and dir2 over 220 together). */
HV_EXT_API char *ext_BuildCatDir(const char *dir1, const char *dir2) HV_EXT_NOEXCEPT;

/* ---- Record locks and file copies -------------------------------------------- */

/* Lock kinds: HV_EXT_LOCK_READ or HV_EXT_LOCK_WRITE, optionally with
 * HV_EXT_LOCK_NOWAIT (kinds 1, 2, 5, 6), or HV_EXT_LOCK_UNLOCK (8); any other
 * value is refused with -1. Locks are POSIX record locks held by the process and
 * always cover the whole file, bytes appended later included. */
#define HV_EXT_LOCK_READ 1
#define HV_EXT_LOCK_WRITE 2
#define HV_EXT_LOCK_NOWAIT 4
#define HV_EXT_LOCK_UNLOCK 8
/* The error ext_copy reports when the data copy itself failed (not an errno). */
#define HV_EXT_COPY_FAILED 820

/* One lock request on fd: 0 when set (or removed), -1 for a refused kind, 11 when
 * held elsewhere and the kind does not wait, 4 when a wait was interrupted and
 * resume is 0 (with resume non-zero it goes on waiting), else the errno value. */
HV_EXT_API int ext_RawLockFile(int fd, int kind, int resume) HV_EXT_NOEXCEPT;
/* ext_RawLockFile resuming interrupted waits; a waiting kind short of lock-table
 * entries (37) retries once a second without limit, any other kind gets 11. */
HV_EXT_API int ext_LockFile(int fd, int kind) HV_EXT_NOEXCEPT;
/* ext_RawLockFile under an alarm of seconds (0: no limit, a single attempt): 4 when
 * the time runs out or any signal interrupts the wait; retries as ext_LockFile
 * within the time given, then 37. Cancels a pending alarm; SIGALRM gets its
 * previous handler back (empty mask, no flags), or SIG_IGN if it was SIG_DFL. */
HV_EXT_API int ext_TimedLockFile(int fd, int kind, unsigned int seconds) HV_EXT_NOEXCEPT;
/* Copies from's bytes from its offset to to's, 8192 at a time: 0 at the end of
 * from; -1 when a read fails or a write fails or falls short. Closes nothing. */
HV_EXT_API int ext_CopyFD2FD(int from, int to) HV_EXT_NOEXCEPT;
/* Reserves from's size on to, then ext_CopyFD2FD: 0; -1 when from cannot be
 * examined; -2 when the data copy failed. Closes nothing. */
HV_EXT_API int ext_MakePhysicalCopy(int from, int to) HV_EXT_NOEXCEPT;
/* Copies the named file (token or path) to a target created with its permission
 * bits (less the umask) or opened without truncation, given the source's owner
 * and group: 0 with *error untouched; -1 with the errno in *error (ENOENT for a
 * name that does not resolve, ENAMETOOLONG for a name of 256 characters or more,
 * EINVAL for a null name); -2 with HV_EXT_COPY_FAILED when reading or writing
 * the data failed (a directory source, a full disk). A target created before a
 * failure stays. error may be null. */
HV_EXT_API int ext_copy(const char *from, const char *to, int *error) HV_EXT_NOEXCEPT;

/* ---- Customise info (the settings of "~/sys/general.cfg") ------------------ */

/* Looks key up, loading the file on first use: 1 and *value points at the value
 * (valid until ext_FreeInfo; the last of duplicate keys wins, "_" in a value reads
 * as a space); 0 when the key is absent, the file failed to load, or key or value
 * is null, and then *value is not written. A missing file counts as empty until
 * ext_FreeInfo. The file is read 1,022 characters at a time, each read parsed as a
 * line of its own; a NUL byte ends a line. */
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

/* Gives the named file (a token, or a path used unchanged when it is not one) to
 * the system account's user and group, running "~/bin/hvchown" PATH UID GID when
 * the change is refused with EPERM (SIGCHLD at its default meanwhile): 0 when the
 * file is the account's already or now; an errno value (ENAMETOOLONG when the
 * path does not fit 255 characters, EINVAL for a null name, the lookup's errno or
 * ENOENT when the account is missing); or the helper's non-zero exit code, 1 when
 * it could not be executed. Under Valgrind the helper is not run: 0 instead. */
HV_EXT_API int ext_ChownToOrdavin(const char *name) HV_EXT_NOEXCEPT;
/* The same for an open descriptor; name is resolved and checked only when the
 * helper must run. Under Valgrind it does nothing and returns 0. */
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
 * remain, -1 when none are left; errno is left as it was. */
HV_EXT_API int ext_reaper(int signo) HV_EXT_NOEXCEPT;
/* Waits up to usec microseconds for fd (0 to 1023) to become ready for what the
 * non-zero flags ask; rewrites those flags to 1 (ready) or 0 (all 0 unless the
 * result is positive). A null flag counts as not wanted. The count of ready
 * conditions, 0 on time-out, -1 with errno; an fd outside 0 to 1023 gives EBADF
 * at once, without waiting and with the flags untouched. */
HV_EXT_API int ext_WaitOnFd(int fd, int *read_wanted, int *write_wanted,
                            int *exception_wanted, unsigned int usec) HV_EXT_NOEXCEPT;

/* ---- Daemon start-up, process title, profiling ----------------------------------- */

/* Forks and returns in the child, which leads a new session; the parent exits 0 once
 * that session exists (after 10 seconds when no pipe can be made). Descriptors 0 and 1
 * then read and write "/dev/null", 2 appends to an existing "~/logs/daemon.stderr" or
 * else to "/dev/null"; one whose file cannot be opened stays as it was. When the fork
 * fails, the caller detaches itself in place and returns. */
HV_EXT_API void ext_BecomeDaemon(void) HV_EXT_NOEXCEPT;
/* Call once, first thing, with main's argc and argv: copies the environment to the
 * heap and measures the room for titles, the lengths of argv[0..argc-1] and of the
 * environment strings, limited to the strings that lie end to end from argv[0].
 * Calls after the first with a non-null argv do nothing; a null argv, a null
 * argv[0] or a refused allocation (the environment is then left as it was) leave
 * no room. */
HV_EXT_API void ext_initSetProcTitle(int argc, char **argv) HV_EXT_NOEXCEPT;
/* Writes title with its NUL over argv[0] when it is shorter than the room; a title
 * as long or longer, or a null one, changes nothing. */
HV_EXT_API void ext_setProcTitle(const char *title) HV_EXT_NOEXCEPT;
/* Once per process: records the last component of path (not copied; null gives
 * "unknown") and, when register_handler is non-zero and the setting
 * "EXT_MULTI_PROFILING" exists, makes ext_profexit run at exit. */
HV_EXT_API void ext_profprep(const char *path, int register_handler) HV_EXT_NOEXCEPT;
/* Enters /tmp/hvdebug/<program>/<process id>, making each missing level (mode 0777
 * less the umask); stops silently in the last directory reached when a step fails. */
HV_EXT_API void ext_profexit(void) HV_EXT_NOEXCEPT;

/* ---- Wildcard matching ---------------------------------------------------------- */

/* 1 when the whole string matches the whole shell-style pattern ("*", "?",
 * "[...]" without negation, backslash outside classes), comparing bytes as signed
 * chars; else 0. 0 also for a null argument, and for a pattern of 65,536 bytes or
 * more once a class of it with a range ending in "]" matches a character. */
HV_EXT_API int ext_glob(const char *string, const char *pattern) HV_EXT_NOEXCEPT;
/* ext_glob ignoring case (tolower of the current locale). A range orders the
 * lowered lower bound and string character as ints, its lowered upper bound as a
 * signed char: the plain order for 7-bit text. */
HV_EXT_API int ext_globcase(const char *string, const char *pattern) HV_EXT_NOEXCEPT;

/* ---- Bit maps --------------------------------------------------------------- */

/* Bit b of a map is bit b & 7 of byte b >> 3; a clear bit is a free unit. */
/* First (lowest) bit index of a run of nbits clear bits in map (size bytes), after
 * the skip-th byte that is not 0xFF when skip > 0. Runs of up to 8 bits may begin
 * at any bit; longer runs are found only where they begin on a byte. -1 when there
 * is none, when the run would begin past bit INT_MAX, or for a null map, size < 1
 * or nbits < 1. Reads nothing outside the map. */
HV_EXT_API int ext_FindBits(unsigned char *map, int size, int nbits, int skip) HV_EXT_NOEXCEPT;
/* Sets (set non-zero) or clears count bits from bit first; bits beyond the map are
 * ignored. Changes nothing for a null map, size < 1, first < 0, count < 1 or a
 * range ending past bit INT_MAX. */
HV_EXT_API void ext_SetBits(unsigned char *map, int size, int first, int count,
                            int set) HV_EXT_NOEXCEPT;
/* 1 when every bit of the range inside the map is set (set non-zero) or clear,
 * also when no bit of it is inside the map or it ends past bit INT_MAX; 0 when
 * not, and for a null map, size < 1, first < 0 or count < 1. */
HV_EXT_API int ext_CheckBits(unsigned char *map, int size, int first, int count,
                             int set) HV_EXT_NOEXCEPT;

/* ---- String utilities and CRC-16 ------------------------------------------------- */

/* Replaces in str each character found in from by the one at the same position
 * in to, and that again while it is in from too; the length of str (0 for null).
 * A chain of replacements stops before it would come back to a character it
 * passed (from "ab", to "ba" swap them); a character of from with no counterpart
 * in a shorter to stays as it is. */
HV_EXT_API int ext_TranslateChars(char *str, const char *from, const char *to) HV_EXT_NOEXCEPT;
/* 0 when a and b are equal ignoring case in their first n characters (or n < 1,
 * or both are null), else 1: also when just one of them is null. */
HV_EXT_API int ext_cicmp(const char *a, const char *b, int n) HV_EXT_NOEXCEPT;
/* Lower-case copy of src into dst, or into a static buffer when dst is null: that
 * one takes the first 2,048 characters of a longer src. A null src reads as "". */
HV_EXT_API char *ext_DownString(char *dst, const char *src) HV_EXT_NOEXCEPT;
/* Upper-case copy of src, as ext_DownString (a static buffer of its own). */
HV_EXT_API char *ext_UpString(char *dst, const char *src) HV_EXT_NOEXCEPT;
/* Splits a command line at unquoted spaces ("..." quotes, a backslash makes the
 * next character literal) into words in buf (strlen(str) + 1 bytes); *argcp
 * receives the count and argv (maxargs + 1 slots) the first maxargs words and a
 * null. argv[0] is written whatever maxargs is; a null str reads as "". */
HV_EXT_API void ext_ConvStr2ArgV(const char *str, int maxargs, char *buf, int *argcp,
                                 char **argv) HV_EXT_NOEXCEPT;
/* The CRC-16/X-25 of len bytes of data with its two bytes exchanged, 0 to 65535;
 * 0 when len < 1 or data is null. */
HV_EXT_API int ext_CRC16(const unsigned char *data, int len) HV_EXT_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
