// Names the generator derives from the options and the model, and the plan
// of what each generated file holds.
//
// Service order everywhere is depth-first from the root device: a device's
// services in order, then each embedded device with its subtree. Services
// that name the same SCPD file share one embedded document and one pair of
// callback files. The stack hands an action or query to the device's one
// handler by name alone, so each action name and each state-variable name
// gets one callback for the whole program, defined in the callback source of
// the first SCPD that declares it: the generated program has no duplicate
// definitions.
#pragma once

#include "desc.h"
#include "genOptions.h"
#include "scpd.h"

#include <string>
#include <string_view>
#include <vector>

// Stands for a name that the model does not provide.
inline constexpr char kUnknownName[] = "XXXXXXXX";

// The part of path after its last slash or backslash (all of it without one).
std::string_view fileNameOf(std::string_view path);
// The directory part of a description path: up to its last slash, "." for a
// bare file name, "/" for a file in the root directory.
std::string directoryOf(std::string_view path);
// text as part of a C identifier: every character other than a letter,
// digit or underscore becomes an underscore.
std::string identOf(std::string_view text);
// text as an identifier of its own at file scope: identOf, with an "x" before
// it unless it begins with a letter (a digit cannot begin it, and names that
// begin with an underscore are the implementation's).
std::string fileScopeIdentOf(std::string_view text);
// text as the body of a C string literal: backslash, double quote, "??"
// (a trigraph start) and control characters other than tab are escaped.
std::string cStringOf(std::string_view text);

// For one service: the part of its SCPDURL after the last slash or
// backslash, at most 127 characters; kUnknownName when the field is missing
// or ends with a separator.
std::string scpdFileOf(const QNServDesc *serv);
// scpdFile without a trailing ".xml" (any case, only when longer than 3
// characters), followed by "_CB"; characters that are not portable in a
// file name become underscores.
std::string cbBaseOf(std::string_view scpdFile);

// One callback of a callback file: the action or variable name, its
// identifier (qnActionCB_<ident>), and where it is defined.
struct CallbackItem {
    std::string name;
    std::string ident;
    bool own = true;       // defined in this file
    std::string owner;     // otherwise: cbBase of the file that defines it
};

// One SCPD file of the program, with the first service that names it.
struct ScpdFile {
    const QNServDesc *service = nullptr;
    std::string file;   // scpdFile
    std::string ident;  // scpdIdent: the embedded document's identifier and header name
    std::string cbBase;
    std::vector<CallbackItem> actions;
    std::vector<CallbackItem> vars;
};

// A row of a dispatch table: the exact name and the callback identifier.
struct TableRow {
    std::string name;
    std::string ident;
};

// Everything the markers and file writers need, computed once per run.
struct GenPlan {
    const GenOptions *opts = nullptr;
    const QNRootDesc *root = nullptr;
    std::string lf;          // the line end after parseLineEnd
    std::string brief;       // brief as an identifier
    std::string prefix;      // brief, with "CP" for a control point
    std::string descName;    // file name of the description
    std::string descIdent;
    std::string localPath;   // directory of the description
    std::vector<ScpdFile> scpds;
    std::vector<TableRow> actionRows;
    std::vector<TableRow> varRows;
};

GenPlan makePlan(const GenOptions &opts, const QNRootDesc &root, const std::string &lf);
