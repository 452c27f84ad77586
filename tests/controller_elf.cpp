#include "controller_elf.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace velk_test {

namespace {

// The ELF values this check needs, as the ELF and MIPS psABI documents number them.
constexpr unsigned char kElfClass32 = 1;
constexpr unsigned char kElfDataLittleEndian = 1;
constexpr std::uint16_t kSharedObject = 3;  // ET_DYN
constexpr std::uint16_t kMachineMips = 8;   // EM_MIPS
constexpr std::uint32_t kPtDynamic = 2;
constexpr std::uint32_t kDtNull = 0;
constexpr std::uint32_t kDtTextrel = 22;
constexpr std::uint32_t kDtFlags = 30;
constexpr std::uint32_t kDfTextrel = 0x4;
constexpr std::uint32_t kMipsPic = 0x2;              // EF_MIPS_PIC
constexpr std::uint32_t kMipsCpic = 0x4;             // EF_MIPS_CPIC
constexpr std::uint32_t kMipsAbi2 = 0x20;            // EF_MIPS_ABI2: n32
constexpr std::uint32_t kMipsAbiMask = 0xf000;       // EF_MIPS_ABI
constexpr std::uint32_t kMipsAbiO32 = 0x1000;        // EF_MIPS_ABI_O32
constexpr std::uint32_t kMipsArchMask = 0xf0000000;  // EF_MIPS_ARCH
constexpr std::uint32_t kMipsArch32r2 = 0x70000000;  // EF_MIPS_ARCH_32R2

// Little-endian fields of a 32-bit ELF file; reading past the end throws.
class Reader {
 public:
  explicit Reader(const std::vector<unsigned char>& file) : file_(file) {}

  std::uint32_t U32(std::size_t offset) const {
    Need(offset, 4);
    return std::uint32_t{file_[offset]} | std::uint32_t{file_[offset + 1]} << 8 |
           std::uint32_t{file_[offset + 2]} << 16 | std::uint32_t{file_[offset + 3]} << 24;
  }
  std::uint16_t U16(std::size_t offset) const {
    Need(offset, 2);
    return static_cast<std::uint16_t>(file_[offset] | file_[offset + 1] << 8);
  }

 private:
  void Need(std::size_t offset, std::size_t length) const {
    if (offset > file_.size() || file_.size() - offset < length) {
      throw std::runtime_error("truncated: field at byte " + std::to_string(offset) +
                               " lies past the end of the file");
    }
  }
  const std::vector<unsigned char>& file_;
};

std::string Hex(std::uint32_t value) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text = "0x";
  for (int shift = 28; shift >= 0; shift -= 4) text += kDigits[(value >> shift) & 0xf];
  return text;
}

// Text relocations make the loader write into the code pages: the file is not really
// position-independent, and a hardened loader refuses it.
void CheckNoTextRelocations(const Reader& elf, std::vector<std::string>& problems) {
  const std::uint32_t phoff = elf.U32(28);
  const std::uint16_t phentsize = elf.U16(42);
  const std::uint16_t phnum = elf.U16(44);
  for (std::uint16_t i = 0; i < phnum; ++i) {
    const std::size_t header = phoff + std::size_t{i} * phentsize;
    if (elf.U32(header) != kPtDynamic) continue;
    const std::uint32_t offset = elf.U32(header + 4);
    const std::uint32_t size = elf.U32(header + 16);
    for (std::size_t entry = offset; entry + 8 <= std::size_t{offset} + size; entry += 8) {
      const std::uint32_t tag = elf.U32(entry);
      const std::uint32_t value = elf.U32(entry + 4);
      if (tag == kDtNull) return;
      if (tag == kDtTextrel) problems.push_back("dynamic section has DT_TEXTREL");
      if (tag == kDtFlags && (value & kDfTextrel) != 0) {
        problems.push_back("dynamic section has DT_FLAGS with DF_TEXTREL");
      }
    }
    return;
  }
  problems.push_back("no PT_DYNAMIC segment: nothing for the loader to bind");
}

}  // namespace

std::vector<std::string> ControllerPluginProblems(const std::vector<unsigned char>& file) {
  if (file.size() < 16 || file[0] != 0x7f || file[1] != 'E' || file[2] != 'L' || file[3] != 'F') {
    return {"not an ELF file"};
  }
  if (file[4] != kElfClass32) return {"not ELFCLASS32: EI_CLASS is " + std::to_string(file[4])};
  if (file[5] != kElfDataLittleEndian) {
    return {"not little-endian (ELFDATA2LSB): EI_DATA is " + std::to_string(file[5])};
  }

  std::vector<std::string> problems;
  try {
    const Reader elf(file);
    const std::uint16_t type = elf.U16(16);
    const std::uint16_t machine = elf.U16(18);
    const std::uint32_t flags = elf.U32(36);
    if (type != kSharedObject) {
      problems.push_back("not a shared object (ET_DYN): e_type is " + std::to_string(type));
    }
    if (machine != kMachineMips) {
      problems.push_back("not EM_MIPS: e_machine is " + std::to_string(machine));
    }
    if ((flags & kMipsArchMask) != kMipsArch32r2) {
      problems.push_back("not MIPS32r2 (EF_MIPS_ARCH_32R2): e_flags are " + Hex(flags));
    }
    if ((flags & kMipsAbiMask) != kMipsAbiO32 || (flags & kMipsAbi2) != 0) {
      problems.push_back("not the o32 ABI: e_flags are " + Hex(flags));
    }
    if ((flags & kMipsPic) == 0) {
      problems.push_back("not position-independent (EF_MIPS_PIC): e_flags are " + Hex(flags));
    }
    if ((flags & kMipsCpic) == 0) {
      problems.push_back("no PIC calling sequence (EF_MIPS_CPIC): e_flags are " + Hex(flags));
    }
    CheckNoTextRelocations(elf, problems);
  } catch (const std::runtime_error& e) {
    problems.push_back(e.what());
  }
  return problems;
}

std::vector<unsigned char> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>());
}

}  // namespace velk_test
