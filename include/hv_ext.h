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

#ifdef __cplusplus
}
#endif

#endif
