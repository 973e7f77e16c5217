// qnsdk: the command-line face of the stack. One subcommand per file; every
// subcommand prints the same JSON model shape (modelJson.h).
#include "commands.h"

#include <cstdio>
#include <cstring>

namespace qncli {

const Command kCommands[] = {
    {"describe", "PATH", "print the model of the device description at PATH (SCPDs beside it)", runDescribe},
    {"discover", "[--addr IP] [--timeout S] [--json]",
     "search the network and print every root device found, described completely", runDiscover},
    {"call", "LOCATION SERVICE_TYPE ACTION [NAME=VALUE...] [--addr IP] [--wait S]",
     "invoke an action of the device at LOCATION (description URL or UDN) and print its out-arguments",
     runCall},
    {"query", "LOCATION SERVICE_TYPE VARIABLE [--addr IP] [--wait S]",
     "ask the device at LOCATION for the value of a state variable", runQuery},
    {"subscribe", "LOCATION SERVICE_TYPE [--for S] [--addr IP] [--wait S]",
     "subscribe to a service and print one line per event until S seconds passed or a signal came",
     runSubscribe},
    {nullptr, nullptr, nullptr, nullptr},
};

} // namespace qncli

namespace {

void printUsage(std::FILE *to)
{
    std::fputs("usage: qnsdk COMMAND [ARG...]\n"
               "       qnsdk COMMAND --help\n\ncommands:\n",
               to);
    for (const qncli::Command *c = qncli::kCommands; c->name != nullptr; ++c)
        std::fprintf(to, "  %s %s\n      %s\n", c->name, c->args, c->summary);
    std::fputs("\nThe result is one JSON object on one line on standard output;\n"
               "errors go to standard error. Exit status: 0 done, 1 failed, 2 usage.\n",
               to);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        printUsage(stderr);
        return qncli::kExitUsage;
    }
    if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
        std::strcmp(argv[1], "help") == 0) {
        printUsage(stdout);
        return qncli::kExitOk;
    }
    for (const qncli::Command *c = qncli::kCommands; c->name != nullptr; ++c)
        if (std::strcmp(argv[1], c->name) == 0)
            return c->run(argc - 2, argv + 2);
    std::fprintf(stderr, "qnsdk: unknown command '%s'\n\n", argv[1]);
    printUsage(stderr);
    return qncli::kExitUsage;
}
