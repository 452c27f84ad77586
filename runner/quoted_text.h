// Input text as a one-line message shows it, so that a long line or a terminal escape
// sequence read from the input never reaches the person's terminal as it is.
#pragma once

#include <string>

namespace velk_run {

// In single quotes; a byte outside printable ASCII as \xNN and a backslash as \\; past the
// first 40 bytes cut to "..." with the whole length given after the quotes.
std::string Quoted(const std::string& text);

}  // namespace velk_run
