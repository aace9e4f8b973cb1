#pragma once
// Whether a standard stream is attached to a terminal, so tools can redraw a progress
// line in place there and print plain lines into pipes and files.

#include <cstdio>

namespace platform {

bool IsTerminal(std::FILE* stream);

}  // namespace platform
