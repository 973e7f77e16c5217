// The two diagnostic channels: the debug console (standard output, always
// written) and the categorised log that reaches the application's sink only
// when its category is enabled at a sufficient level.
#pragma once

#include "qnSdkApi.h"

enum LogCategory : int {
    LOG_SERVER = 0,
    LOG_SOCK = 1,
    LOG_SSDP = 2,
    LOG_GENA = 3,
    LOG_SOAP = 4,
    LOG_HTTP_XFER = 5,
    LOG_XML = 6,
    LOG_HTTP_PARSE = 7,
};

enum LogLevel : int {
    LOG_ERROR = 0,
    LOG_NOTABLE = 1,
    LOG_DETAIL = 2,
};

// qnDebugPrint under its internal name.
void debugPrint(int category, const char *text, int level);

// Formats into a bounded buffer and hands the text to debugPrint; nothing
// is formatted when the line would not be delivered.
void debugPrintf(int category, int level, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

// True when a line of this category and level would reach the sink.
bool debugEnabled(int category, int level);

// The debug console: standard output unless the application (qnSetConsoleSink)
// or a test has redirected it.
void consolePrint(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Keeps the console lines this thread writes while the object lives, and
// writes them when it ends (or at flush): the server loop keeps what is
// said while it holds the stack lock, so that a slow console never holds
// the lock. What is written from kept lines is limited to
// kConsoleLinesPerSecond; the rest is counted and the count reported.
class ConsoleDeferral {
public:
    ConsoleDeferral();
    ~ConsoleDeferral();
    ConsoleDeferral(const ConsoleDeferral &) = delete;
    ConsoleDeferral &operator=(const ConsoleDeferral &) = delete;
    void flush();

private:
    bool outer_;
};

// Redirects the debug console; absent restores standard output.
using ConsoleSink = QNConsoleSink;
void setConsoleSink(ConsoleSink sink);

// Silences the debug console on this thread while it lives (when `active`):
// a failure that repeats is reported once, not on every retry.
class ConsoleQuiet {
public:
    explicit ConsoleQuiet(bool active);
    ~ConsoleQuiet();
    ConsoleQuiet(const ConsoleQuiet &) = delete;
    ConsoleQuiet &operator=(const ConsoleQuiet &) = delete;

private:
    bool previous_;
};
