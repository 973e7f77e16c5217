// QNGenCmd's command line and driver: options, reading and parsing the
// description and its SCPDs with the stack's parsers, then writing.
#pragma once

#include "desc.h"
#include "genOptions.h"

#include <string>
#include <string_view>

// The whole program: parses the command line and runs the generation step.
// Returns the exit status (GenResult).
int runGenCmd(int argc, const char *const *argv);

// Overlays the arguments on opts. False when the usage was printed instead
// (-h, an argument without a leading '-', an option without a value, an
// unknown option or a -t value other than "dev" or "cp").
bool parseArgs(int argc, const char *const *argv, GenOptions *opts);
void printUsage(const char *program);

// The generation step on parsed options. Returns a GenResult.
int generate(const GenOptions &opts);

// Creates path and any missing parents; an existing directory counts as
// made. 0 or -1.
int makeDirs(const std::string &path);

// Converts line-end escape text (at most 4 characters, only the pairs
// backslash-r and backslash-n) into the characters. 0, or GR_BAD_OPTIONS.
int parseLineEnd(std::string_view escaped, std::string *out);

// Reads and parses the SCPD of every service of dev and its embedded
// devices (services first), each from the description's directory under
// the last segment of its SCPDURL. 0 or a failure code; the reason is
// printed.
int readScpdFiles(const std::string &inputPath, QNDevDesc *dev);
