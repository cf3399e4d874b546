/* libhv_dtk: names the installation's data directory (the home area). */
#ifndef HV_DTK_H
#define HV_DTK_H

#ifdef __cplusplus
extern "C" {
#endif

/* The home area's path, owned by the library; null when the installation cannot
 * be identified. */
const char *dtk_getDatadir(void);

#ifdef __cplusplus
}
#endif

#endif
