// The plug-in file as the controllers' loader takes it, checked on the file this build made.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "controller_elf.h"

namespace {

using velk_test::ControllerPluginProblems;
using Bytes = std::vector<unsigned char>;

const Bytes& Plugin() {
  static const Bytes file = velk_test::ReadFileBytes(VELK_PLUGIN_FILE);
  return file;
}

TEST(PluginBinaryTest, PluginIsAPositionIndependentMips32r2SharedObject) {
  ASSERT_GT(Plugin().size(), 52u) << "cannot read " << VELK_PLUGIN_FILE;
  EXPECT_EQ(ControllerPluginProblems(Plugin()), std::vector<std::string>{}) << VELK_PLUGIN_FILE;
}

// Where `pattern` sits in `file`; fails the test unless it sits there exactly once.
std::size_t UniqueOffset(const Bytes& file, const Bytes& pattern) {
  const auto first = std::search(file.begin(), file.end(), pattern.begin(), pattern.end());
  EXPECT_NE(first, file.end());
  if (first == file.end()) return 0;
  EXPECT_EQ(std::search(first + 1, file.end(), pattern.begin(), pattern.end()), file.end());
  return static_cast<std::size_t>(first - file.begin());
}

void Put32(Bytes& file, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) file[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

// Every MIPS shared object has one DT_MIPS_RLD_VERSION entry of value 1; the mutations
// below put another dynamic entry in its place.
const Bytes kRldVersionEntry = {0x01, 0x00, 0x00, 0x70, 0x01, 0x00, 0x00, 0x00};

struct WrongFile {
  const char* what;
  std::function<void(Bytes&)> spoil;
  const char* reported;  // part of the one problem expected
};

TEST(PluginBinaryTest, EachWrongFactOfAFileIsReportedOnItsOwn) {
  const WrongFile cases[] = {
      {"no ELF magic", [](Bytes& f) { f[1] = 'X'; }, "not an ELF file"},
      {"64-bit", [](Bytes& f) { f[4] = 2; }, "ELFCLASS32"},
      {"big-endian", [](Bytes& f) { f[5] = 2; }, "little-endian"},
      {"executable", [](Bytes& f) { f[16] = 2; }, "ET_DYN"},
      {"x86", [](Bytes& f) { f[18] = 3; }, "EM_MIPS"},
      {"MIPS32 release 1", [](Bytes& f) { f[39] = (f[39] & 0x0f) | 0x50; }, "MIPS32r2"},
      {"MIPS32 release 6", [](Bytes& f) { f[39] = (f[39] & 0x0f) | 0x90; }, "MIPS32r2"},
      {"n32",
       [](Bytes& f) {
         f[36] |= 0x20;
         f[37] &= 0x0f;
       },
       "o32"},
      {"EABI32", [](Bytes& f) { f[37] = (f[37] & 0x0f) | 0x30; }, "o32"},
      {"not PIC", [](Bytes& f) { f[36] &= ~0x02; }, "EF_MIPS_PIC"},
      {"no PIC calls", [](Bytes& f) { f[36] &= ~0x04; }, "EF_MIPS_CPIC"},
      {"DT_TEXTREL",
       [](Bytes& f) {
         const std::size_t entry = UniqueOffset(f, kRldVersionEntry);
         Put32(f, entry, 22);
         Put32(f, entry + 4, 0);
       },
       "DT_TEXTREL"},
      {"DF_TEXTREL",
       [](Bytes& f) {
         const std::size_t entry = UniqueOffset(f, kRldVersionEntry);
         Put32(f, entry, 30);
         Put32(f, entry + 4, 0x4 | 0x8);  // with DF_BIND_NOW beside it
       },
       "DF_TEXTREL"},
      {"no program headers", [](Bytes& f) { f[44] = f[45] = 0; }, "PT_DYNAMIC"},
      {"cut after e_flags", [](Bytes& f) { f.resize(40); }, "truncated"},
  };
  ASSERT_EQ(ControllerPluginProblems(Plugin()), std::vector<std::string>{})
      << "spoiling needs a good file to start from: " << VELK_PLUGIN_FILE;
  for (const WrongFile& c : cases) {
    Bytes file = Plugin();
    c.spoil(file);
    const std::vector<std::string> problems = ControllerPluginProblems(file);
    ASSERT_EQ(problems.size(), 1u) << c.what << ": " << ::testing::PrintToString(problems);
    EXPECT_NE(problems[0].find(c.reported), std::string::npos) << c.what << ": " << problems[0];
  }
}

}  // namespace
