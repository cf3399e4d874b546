/* libhv_tayl: the suite's site strings. */
#ifndef HV_TAYL_H
#define HV_TAYL_H

#ifdef __cplusplus
extern "C" {
#endif

/* The site's string for key, valid for the life of the process; null if none.
 * The three further arguments are reserved and passed as 0. */
const char *tayl_GetString(const char *key, int reserved1, int reserved2, int reserved3);

#ifdef __cplusplus
}
#endif

#endif
