// Writers of the generated files: the main source, the XML headers, the
// callback files and the project's CMakeLists.txt.
#pragma once

#include "genPlan.h"

#include <string>

// Writes every file of the run, in order: the main source
// (<outputDir>/<brief>.c, or <brief>CP.c for a control point), the XML
// headers, for a device the callback files, and a CMakeLists.txt where none
// exists. Returns 0, GR_NO_OUTPUT when the main source cannot be written, or
// GR_NO_FILE when a callback file cannot be written. A failing XML header
// stops the XML headers and does not change the result.
int writeMainFile(const GenPlan &plan);

// Embeds xmlPath as C string literals in headerPath, one literal per line of
// the file, so that the concatenated literals hold exactly the file's text
// without its line breaks. An existing header stays when
// overwriteXmlHeaders is 0. Returns 0 or -1 (xmlPath cannot be read or
// headerPath cannot be written).
int writeXmlHeader(const GenPlan &plan, const std::string &xmlPath, const std::string &headerPath);

// The callback header (always rewritten) and source (kept when it exists,
// unless overwriteCallbackSources) of one SCPD file. 0 or -1.
int writeCallbackFiles(const GenPlan &plan, const ScpdFile &scpd);

// <outputDir>/CMakeLists.txt that builds the generated program with
// pkg-config, only when none exists. 0 or -1.
int writeCMakeLists(const GenPlan &plan);
