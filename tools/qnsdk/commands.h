// The subcommands of qnsdk. Each takes the arguments after its own name,
// writes its result to standard output (one JSON object on one line) and
// its complaints to standard error, and returns the process's exit status.
#pragma once

namespace qncli {

enum ExitStatus : int {
    kExitOk = 0,
    kExitFailure = 1, // the command ran and failed
    kExitUsage = 2,   // the command line was wrong
};

struct Command {
    const char *name;
    const char *args;    // argument synopsis for the usage text
    const char *summary; // one line for the usage text
    int (*run)(int argc, char **argv);
};

// The table of commands, ended by an entry whose name is null.
extern const Command kCommands[];

int runDescribe(int argc, char **argv);
int runDiscover(int argc, char **argv);
int runCall(int argc, char **argv);
int runQuery(int argc, char **argv);
int runSubscribe(int argc, char **argv);

} // namespace qncli
