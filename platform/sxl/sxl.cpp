// The platform call layer: each sxl_ call is the C library call of the same name.
//
// Two rules hold throughout. Everything the layer opens is close-on-exec, so that
// no descriptor leaks into a program that the suite executes later. And every file
// call uses the 64-bit interface, so that the i386 build handles files past 2 GiB.
// A null pointer that the C library would follow is refused: EFAULT for a path
// or a buffer, EINVAL for a function or a thread object.

// Built with hidden visibility: the calls declared here are the ones it shows.
#pragma GCC visibility push(default)
#include "sxl.h"
#pragma GCC visibility pop

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <shadow.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

template <typename T>
T refuse(T failure, int err)
{
    errno = err;
    return failure;
}

// fopen's mode with the close-on-exec letter added; false if it does not fit.
constexpr size_t kModeMax = 16;

bool cloexec_mode(const char *mode, char (&out)[kModeMax])
{
    size_t len = strnlen(mode, kModeMax);
    if (len == kModeMax)
        return false;
    memcpy(out, mode, len + 1);
    if (memchr(mode, 'e', len) != nullptr)
        return true;
    if (len + 1 == kModeMax)
        return false;
    out[len] = 'e';
    out[len + 1] = '\0';
    return true;
}

void fill_statbuf(const struct stat64 &from, sxl_statbuf *to)
{
    to->mode = from.st_mode;
    to->uid = from.st_uid;
    to->gid = from.st_gid;
    to->nlink = static_cast<unsigned int>(from.st_nlink);
    to->size = from.st_size;
    to->mtime = from.st_mtime;
    to->dev = from.st_dev;
    to->ino = from.st_ino;
}

// The password-ageing text: max weeks, min weeks, then the week of the last change
// as two digits, low digit first, in the base-64 alphabet of crypt(3).
constexpr char kAgeDigits[] =
    "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr long kDaysPerWeek = 7;

long weeks_clamped(long days, long max_weeks)
{
    if (days < 0)
        return 0;
    long weeks = days / kDaysPerWeek;
    return weeks > max_weeks ? max_weeks : weeks;
}

constinit char age_text[5] = {};

}  // namespace

// ---- Files and descriptors -----------------------------------------------------

extern "C" int sxl_open(const char *path, int flags, mode_t mode)
{
    if (path == nullptr)
        return refuse(-1, EFAULT);
    return open64(path, flags | O_CLOEXEC, mode);
}

extern "C" int sxl_close(int fd)
{
    return close(fd);
}

// F_DUPFD_CLOEXEC from 0 is dup(2) with the flag: still the lowest free descriptor.
extern "C" int sxl_dup(int fd)
{
    return fcntl64(fd, F_DUPFD_CLOEXEC, 0);
}

extern "C" int sxl_pipe(int fds[2])
{
    if (fds == nullptr)
        return refuse(-1, EFAULT);
    return pipe2(fds, O_CLOEXEC);
}

extern "C" ssize_t sxl_read(int fd, void *buf, size_t count)
{
    return read(fd, buf, count);
}

extern "C" ssize_t sxl_write(int fd, const void *buf, size_t count)
{
    return write(fd, buf, count);
}

extern "C" long long sxl_lseek(int fd, long long offset, int whence)
{
    return lseek64(fd, offset, whence);
}

extern "C" FILE *sxl_fopen(const char *path, const char *mode)
{
    if (path == nullptr || mode == nullptr)
        return refuse<FILE *>(nullptr, EFAULT);
    char with_cloexec[kModeMax];
    if (!cloexec_mode(mode, with_cloexec))
        return refuse<FILE *>(nullptr, EINVAL);
    return fopen64(path, with_cloexec);
}

extern "C" char *sxl_fgets(char *buf, int size, FILE *stream)
{
    if (buf == nullptr || stream == nullptr)
        return refuse<char *>(nullptr, EFAULT);
    return fgets(buf, size, stream);
}

extern "C" int sxl_fclose(FILE *stream)
{
    if (stream == nullptr)
        return refuse(EOF, EFAULT);
    return fclose(stream);
}

extern "C" int sxl_stat(const char *path, struct sxl_statbuf *st)
{
    if (path == nullptr || st == nullptr)
        return refuse(-1, EFAULT);
    struct stat64 sb;
    if (stat64(path, &sb) != 0)
        return -1;
    fill_statbuf(sb, st);
    return 0;
}

extern "C" int sxl_fstat(int fd, struct sxl_statbuf *st)
{
    if (st == nullptr)
        return refuse(-1, EFAULT);
    struct stat64 sb;
    if (fstat64(fd, &sb) != 0)
        return -1;
    fill_statbuf(sb, st);
    return 0;
}

extern "C" int sxl_chown(const char *path, uid_t uid, gid_t gid)
{
    if (path == nullptr)
        return refuse(-1, EFAULT);
    return chown(path, uid, gid);
}

extern "C" int sxl_fchown(int fd, uid_t uid, gid_t gid)
{
    return fchown(fd, uid, gid);
}

extern "C" int sxl_mkdir(const char *path, mode_t mode)
{
    if (path == nullptr)
        return refuse(-1, EFAULT);
    return mkdir(path, mode);
}

// fcntl64 is the entry that hands every command to the kernel as given: on i386
// the 64-bit lock commands (12 to 14) need it, and on x86_64 it is plain fcntl.
extern "C" int sxl_rawfcntl(int fd, int cmd, void *arg)
{
    return fcntl64(fd, cmd, arg);
}

extern "C" int sxl_prealloc(int fd, long long size)
{
    int err = posix_fallocate64(fd, 0, size);
    if (err != 0)
        errno = err;
    return err;
}

// The magic's low 32 bits: some file systems' magics do not fit an int's range.
extern "C" int sxl_fstype(int fd)
{
    struct statfs64 sf;
    if (fstatfs64(fd, &sf) != 0)
        return -1;
    return static_cast<int>(static_cast<unsigned int>(sf.f_type));
}

// ---- Processes -------------------------------------------------------------------

extern "C" pid_t sxl_fork(void)
{
    return fork();
}

extern "C" pid_t sxl_setsid(void)
{
    return setsid();
}

extern "C" int sxl_execv(const char *path, char *const argv[])
{
    if (path == nullptr || argv == nullptr)
        return refuse(-1, EFAULT);
    return execv(path, argv);
}

extern "C" pid_t sxl_wait(int *status)
{
    return wait(status);
}

extern "C" pid_t sxl_waitpid(pid_t pid, int *status, int options)
{
    return waitpid(pid, status, options);
}

extern "C" int sxl_select(int nfds, fd_set *readfds, fd_set *writefds, fd_set *exceptfds,
                          struct timeval *timeout)
{
    return select(nfds, readfds, writefds, exceptfds, timeout);
}

extern "C" void sxl_exit(int status)
{
    exit(status);
}

extern "C" int sxl_atexit(void (*function)(void))
{
    if (function == nullptr)
        return refuse(-1, EINVAL);
    return atexit(function);
}

// ---- Identity --------------------------------------------------------------------

extern "C" uid_t sxl_getuid(void)
{
    return getuid();
}

extern "C" gid_t sxl_getgid(void)
{
    return getgid();
}

extern "C" gid_t sxl_getegid(void)
{
    return getegid();
}

extern "C" int sxl_setregid(gid_t rgid, gid_t egid)
{
    return setregid(rgid, egid);
}

extern "C" struct passwd *sxl_getpwuid(uid_t uid)
{
    return getpwuid(uid);
}

// No text for an account without a shadow entry, or whose entry sets no maximum
// age or no date of the last change: ageing does not apply to it.
extern "C" const char *sxl_getpwdage(const char *account)
{
    if (account == nullptr)
        return nullptr;
    const struct spwd *sp = getspnam(account);
    if (sp == nullptr || sp->sp_max < 0 || sp->sp_lstchg < 0)
        return nullptr;
    constexpr long kDigitMax = 63;
    constexpr long kWeekMax = 64 * 64 - 1;
    long changed = weeks_clamped(sp->sp_lstchg, kWeekMax);
    age_text[0] = kAgeDigits[weeks_clamped(sp->sp_max, kDigitMax)];
    age_text[1] = kAgeDigits[weeks_clamped(sp->sp_min, kDigitMax)];
    age_text[2] = kAgeDigits[changed % 64];
    age_text[3] = kAgeDigits[changed / 64];
    age_text[4] = '\0';
    return age_text;
}

// ---- Time and memory -------------------------------------------------------------

extern "C" time_t sxl_time(time_t *t)
{
    return time(t);
}

extern "C" void *sxl_malloc(size_t size)
{
    return malloc(size);
}

extern "C" void *sxl_realloc(void *ptr, size_t size)
{
    return realloc(ptr, size);
}

extern "C" void sxl_free(void *ptr)
{
    free(ptr);
}

// ---- Threads ---------------------------------------------------------------------

extern "C" int sxl_pthread_once(pthread_once_t *once, void (*init)(void))
{
    if (once == nullptr || init == nullptr)
        return EINVAL;
    return pthread_once(once, init);
}

extern "C" int sxl_pthread_mutexattr_init(pthread_mutexattr_t *attr)
{
    if (attr == nullptr)
        return EINVAL;
    return pthread_mutexattr_init(attr);
}

extern "C" int sxl_pthread_mutexattr_destroy(pthread_mutexattr_t *attr)
{
    if (attr == nullptr)
        return EINVAL;
    return pthread_mutexattr_destroy(attr);
}

extern "C" int sxl_pthread_mutex_init(pthread_mutex_t *mutex,
                                      const pthread_mutexattr_t *attr)
{
    if (mutex == nullptr)
        return EINVAL;
    return pthread_mutex_init(mutex, attr);
}

extern "C" int sxl_pthread_mutex_lock(pthread_mutex_t *mutex)
{
    if (mutex == nullptr)
        return EINVAL;
    return pthread_mutex_lock(mutex);
}

extern "C" int sxl_pthread_mutex_unlock(pthread_mutex_t *mutex)
{
    if (mutex == nullptr)
        return EINVAL;
    return pthread_mutex_unlock(mutex);
}
