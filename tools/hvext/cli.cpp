#include "cli.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../common/quote.h"

namespace hvext {
namespace {

__attribute__((format(printf, 2, 0)))
void vcomplain(const char *cmd, const char *format, va_list args) {
    // The message is escaped whole, so that no name or value it quotes, now or in a
    // message added later, brings a control byte along. Without memory for it, the
    // bare format still says what went wrong.
    char *message = nullptr;
    if (vasprintf(&message, format, args) < 0)
        message = nullptr;
    std::fflush(stdout);
    std::fputs("hvext", stderr);
    if (cmd) {
        std::fputc(' ', stderr);
        hvtools::put_quoted(stderr, cmd);
    }
    std::fputs(": ", stderr);
    hvtools::put_quoted(stderr, message != nullptr ? message : format);
    std::fputc('\n', stderr);
    std::free(message);
}

}  // namespace

void complain(const char *cmd, const char *format, ...) {
    va_list args;
    va_start(args, format);
    vcomplain(cmd, format, args);
    va_end(args);
}

int usage_error(const char *cmd, const char *format, ...) {
    va_list args;
    va_start(args, format);
    vcomplain(cmd, format, args);
    va_end(args);
    return kExitUsage;
}

bool is_help_option(const char *arg) {
    return std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0;
}

int scan_operands(int argc, char **argv, const char *help, int *first) {
    int i = 1;
    for (; i < argc; ++i) {
        const char *arg = argv[i];
        if (arg[0] != '-' || arg[1] == '\0')
            break;  // an operand; a lone "-" is one too
        if (std::strcmp(arg, "--") == 0) {
            ++i;
            break;
        }
        if (is_help_option(arg)) {
            std::fputs(help, stdout);
            return kExitOk;
        }
        return usage_error(argv[0], "unknown option '%s'", arg);
    }
    *first = i;
    return -1;
}

int for_each_operand(const char *cmd, int count, char *const *operands, OperandFn each) {
    int status = kExitOk;
    for (int i = 0; i < count; ++i)
        if (!each(cmd, operands[i]))
            status = kExitNo;
    return status;
}

int run_operands(int argc, char **argv, const char *help, const char *what, OperandFn each,
                 NoOperandFn none) {
    int first = 0;
    if (int status = scan_operands(argc, argv, help, &first); status >= 0)
        return status;
    if (first < argc)
        return for_each_operand(argv[0], argc - first, argv + first, each);
    if (none != nullptr)
        return none(argv[0]);
    return usage_error(argv[0], "no %s given", what);
}

}  // namespace hvext
