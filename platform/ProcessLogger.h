#pragma once
// The process logger: easylogging++'s logger "default", Info level, lines of the form
// "%datetime--[Thread](%thread) %msg", to standard output and optionally to a file.
// Use LOG(INFO) << " message"; messages begin with a blank.
//
// Console diagnostics (plain printf-style lines of the digest, web-service and adapter
// code) are printed only when the process was started as "Setup debug".
//
// Never include this header together with X11 headers: X11's None macro breaks it.

#include <easylogging++.h>

#include <string>

namespace qvlog {

// Installs the default configuration on the "default" logger. Safe to call more than
// once. toStandardOutput=false keeps command-line tools' stdout clean.
void InitDefaultLogger(bool toStandardOutput = true);

// Reconfigures "default" from the logger's defaults to write to standard output and to
// `path` (created if missing). Returns false when the file cannot be opened or is not a
// regular file (a link is never followed); the logger then keeps writing to standard output.
bool ConfigureLogFile(const std::string& path, bool toStandardOutput = true);

void SetConsoleDiagnostics(bool enabled);
bool ConsoleDiagnosticsEnabled();

// printf to standard output when console diagnostics are on; otherwise nothing.
void ConsoleLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace qvlog
