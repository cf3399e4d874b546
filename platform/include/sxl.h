/* libhv_sxl: the suite's platform call layer, as libhv_ext sees it.
 *
 * Each call behaves as the POSIX or C-library call of the same name. Descriptors
 * and streams that the layer opens are close-on-exec, so nothing the library opens
 * leaks into a program that the suite later executes.
 */
#ifndef HV_SXL_H
#define HV_SXL_H

#include <pthread.h>
#include <pwd.h>
#include <stddef.h>
#include <stdio.h>
#include <sys/select.h>
#include <sys/types.h>
#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The layer's status record: only what the suite reads, with fixed-width sizes so
 * that both builds of every client agree on it. */
struct sxl_statbuf {
    unsigned int mode;
    unsigned int uid;
    unsigned int gid;
    unsigned int nlink;
    long long size;
    time_t mtime; /* the build's own time_t: 32 bits on i386 */
    unsigned long long dev;
    unsigned long long ino;
};

/* Flags the suite passes to sxl_open, spelled as the platform's numbers. */
enum {
    SXL_O_RDONLY = 0,
    SXL_O_WRONLY_APPEND = 1025, /* O_WRONLY | O_APPEND */
    SXL_O_RDWR_CREAT = 66       /* O_RDWR | O_CREAT */
};

/* Files and descriptors. mode is read only when flags ask for creation. */
int sxl_open(const char *path, int flags, mode_t mode);
int sxl_close(int fd);
int sxl_dup(int fd);
int sxl_pipe(int fds[2]);
ssize_t sxl_read(int fd, void *buf, size_t count);
ssize_t sxl_write(int fd, const void *buf, size_t count);
long long sxl_lseek(int fd, long long offset, int whence);
FILE *sxl_fopen(const char *path, const char *mode);
char *sxl_fgets(char *buf, int size, FILE *stream);
int sxl_fclose(FILE *stream);
int sxl_stat(const char *path, struct sxl_statbuf *st);
int sxl_fstat(int fd, struct sxl_statbuf *st);
int sxl_chown(const char *path, uid_t uid, gid_t gid);
int sxl_fchown(int fd, uid_t uid, gid_t gid);
int sxl_mkdir(const char *path, mode_t mode);
/* fcntl itself: cmd and the record pointed to by arg go to the kernel unchanged. */
int sxl_rawfcntl(int fd, int cmd, void *arg);
/* Reserves size bytes from offset 0 (the file may grow to size). 0 or an errno. */
int sxl_prealloc(int fd, long long size);
/* The file-system kind of fd's file system (the statfs magic); -1 on failure. */
int sxl_fstype(int fd);

/* Processes. */
pid_t sxl_fork(void);
pid_t sxl_setsid(void);
int sxl_execv(const char *path, char *const argv[]);
pid_t sxl_wait(int *status);
pid_t sxl_waitpid(pid_t pid, int *status, int options);
int sxl_select(int nfds, fd_set *readfds, fd_set *writefds, fd_set *exceptfds,
               struct timeval *timeout);
void sxl_exit(int status) __attribute__((__noreturn__));
int sxl_atexit(void (*function)(void));

/* Identity. */
uid_t sxl_getuid(void);
gid_t sxl_getgid(void);
gid_t sxl_getegid(void);
int sxl_setregid(gid_t rgid, gid_t egid);
struct passwd *sxl_getpwuid(uid_t uid);
/* The classic four-character password-ageing text of the account with this login
 * name, or null when the account has none. Each character is a base-64 digit of
 * the alphabet "./0-9A-Za-z" (0 to 63): maximum weeks, minimum weeks, then the
 * week of the last change (weeks since 1970) as two digits, low digit first.
 * The text lives until the next call. */
const char *sxl_getpwdage(const char *account);

/* Time and memory. */
time_t sxl_time(time_t *t);
void *sxl_malloc(size_t size);
void *sxl_realloc(void *ptr, size_t size);
void sxl_free(void *ptr);

/* Threads. */
int sxl_pthread_once(pthread_once_t *once, void (*init)(void));
int sxl_pthread_mutexattr_init(pthread_mutexattr_t *attr);
int sxl_pthread_mutexattr_destroy(pthread_mutexattr_t *attr);
int sxl_pthread_mutex_init(pthread_mutex_t *mutex, const pthread_mutexattr_t *attr);
int sxl_pthread_mutex_lock(pthread_mutex_t *mutex);
int sxl_pthread_mutex_unlock(pthread_mutex_t *mutex);

#ifdef __cplusplus
}
#endif

#endif
