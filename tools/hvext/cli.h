// What every hvext subcommand shares: exit codes, messages, operand scanning.
#pragma once

namespace hvext {

inline constexpr int kExitOk = 0;     // done; the answer is yes
inline constexpr int kExitNo = 1;     // the answer is no, or a lookup failed
inline constexpr int kExitUsage = 2;  // bad usage

// A subcommand gets its own name as argv[0] and returns the exit code.
using CommandFn = int (*)(int argc, char **argv);

// Prints "hvext[ CMD]: MESSAGE" and a newline to stderr; cmd may be null. Standard
// output is flushed first, so that messages stay in order with the lines before.
void complain(const char *cmd, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// complain(), then kExitUsage.
int usage_error(const char *cmd, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// For a subcommand whose only option is --help: skips "-h"/"--help" (printing
// help to stdout) and a "--" that ends the options. Returns -1 with *first set
// to the first operand's index when the subcommand should go on, otherwise the
// exit code to return (kExitOk after --help, kExitUsage for an unknown option).
int scan_operands(int argc, char **argv, const char *help, int *first);

bool is_help_option(const char *arg);

// What a subcommand does with one operand: true when the answer is yes.
using OperandFn = bool (*)(const char *cmd, const char *operand);
// What a subcommand does when it is given no operand.
using NoOperandFn = int (*)(const char *cmd);

// Calls `each` on every operand, all of them even after a no; kExitNo if any said no.
int for_each_operand(const char *cmd, int count, char *const *operands, OperandFn each);

// The usual subcommand: scan_operands, then for_each_operand. Without operands it
// runs `none`, or when that is null, fails with the usage error "no WHAT given".
int run_operands(int argc, char **argv, const char *help, const char *what, OperandFn each,
                 NoOperandFn none = nullptr);

}  // namespace hvext
