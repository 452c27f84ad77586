// What the controllers' dynamic loader demands of a plug-in file: a 32-bit little-endian
// MIPS32r2 shared object for the o32 ABI, position-independent, with no text relocations.
#pragma once

#include <string>
#include <vector>

namespace velk_test {

// One line for each demand that the file does not meet; empty when it meets them all. A
// file that is not 32-bit little-endian ELF gets one line, as nothing further can be read.
std::vector<std::string> ControllerPluginProblems(const std::vector<unsigned char>& file);

// The whole file; empty when it cannot be read.
std::vector<unsigned char> ReadFileBytes(const std::string& path);

}  // namespace velk_test
