/* libhv_hq: facts about the host environment. */
#ifndef HV_HQ_H
#define HV_HQ_H

#ifdef __cplusplus
extern "C" {
#endif

/* Non-zero when the process runs under the Valgrind memory checker. */
int hq_UsingValgrind(void);

#ifdef __cplusplus
}
#endif

#endif
