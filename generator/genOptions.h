// QNGenCmd's options record and the results of a run.
//
// The generator turns the description of a root device and the SCPDs beside
// it into a C skeleton for the stack: a device (callbacks for every action
// and state variable, the documents embedded as strings) or a control point
// (an interactive command loop). It calls only the stack's description,
// SCPD and text functions; its network parts are never started.
#pragma once

#include <cstdint>
#include <string>

// Emitted by the marker gsn when no name is given.
inline constexpr char kDefaultEntityName[] = "Corvanta UPnP Device";
// Line end of the generated files, as escape text (parseLineEnd).
inline constexpr char kDefaultLineEnd[] = "\\n";

struct GenOptions {
    uint8_t isDevice = 1;              // -t dev (1) or cp (0)
    uint8_t lang = 1;                  // -l; accepted, nothing reads it
    std::string inputPath;             // -i, required: the root description
    std::string outputDir;             // -o, required
    std::string brief;                 // -b, required: file and identifier prefix
    std::string ipAddr;                // -a: address of the generated device
    uint16_t devPort = 80;             // httpPort and soapPort of the device
    uint16_t cpEventPort = 8888;       // eventPort of the control point
    uint32_t cpExtraPort = 0;          // extraPort of the control point
    std::string entityName = kDefaultEntityName;
    std::string lineEnd = kDefaultLineEnd;
    uint8_t overwriteXmlHeaders = 1;   // rewrite existing XML headers
    uint8_t overwriteCallbackSources = 0; // 0: an existing <cbBase>.c stays as it is
};

// Results of a run; main returns them as the exit status (a negative one
// reaches the shell modulo 256: -1 is 255, -100 is 156, -200 is 56, -210 is 46).
enum GenResult : int {
    GR_OK = 0,
    GR_PARSE_FAILED = 1,    // the description or an SCPD could not be read or parsed
    GR_NO_FILE = -1,        // the description, or a callback file, could not be opened
    GR_BAD_OPTIONS = -100,  // -i, -o or -b missing, or a bad line-end text
    GR_TOO_LONG = -200,     // the description is longer than kMaxDocument
    GR_NO_OUTPUT = -210,    // the output directory or the main source cannot be made
};
