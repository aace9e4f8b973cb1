#pragma once
// Filling the three format texts of a language file (progress, free space, needed space)
// with their one argument. A language file is data, so its text never reaches printf as a
// format: the text is walked here, "%%" becomes "%", and the first conversion is replaced
// by the argument. A conversion of the expected kind ("%.1f" for a number, "%s" for a
// text, with flags, a width and a precision of at most two digits) renders as printf
// would render it; any other first conversion ("%d", "%n", "%*f", a lone "%") renders the
// argument plainly instead, and every later conversion stays in the text as written.
// So the shipped texts come out exactly as printf makes them, and a bad file shows its
// words and the value, never garbage or a crash. Pure functions; safe from any thread.

#include <string>
#include <string_view>

// `install_label`: the percentage, e.g. "%0.f%%" with 42.4 gives "42%". Plainly: "%.0f".
std::string FormatProgressText(std::string_view format, double percent);
// `space_free`: free gigabytes, e.g. "%.1fGB" with 12.34 gives "12.3GB". Plainly: "%.1f".
std::string FormatSpaceFreeText(std::string_view format, double gigabytes);
// `space_need`: the text of the skin label ProductSize, e.g. "Required: %s".
std::string FormatSpaceNeedText(std::string_view format, std::string_view productSize);
