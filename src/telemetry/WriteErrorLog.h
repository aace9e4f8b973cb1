#pragma once
// The web-service client's diagnostic log: the file ".log" in the "Logs" folder beside the
// running executable, one "[year/month/day-hour:minute:second] message" entry per call.
// Nothing is written when that folder does not exist. Safe from any thread, also while the
// process is exiting.

void WriteErrorLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
