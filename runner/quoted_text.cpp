#include "runner/quoted_text.h"

#include <algorithm>

#include "host_standin/record_format.h"

namespace velk_run {

namespace {
// Enough to recognise a reading or a mistyped one.
constexpr std::size_t kShownBytes = 40;
}  // namespace

std::string Quoted(const std::string& text) {
  std::string shown = "'";
  const std::size_t length = std::min(text.size(), kShownBytes);
  for (std::size_t i = 0; i < length; ++i) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    if (byte == '\\') {
      shown += "\\\\";
    } else if (byte >= 0x20 && byte < 0x7f) {
      shown += static_cast<char>(byte);
    } else {
      shown += "\\x" + standin::ToHex(&byte, 1);
    }
  }
  if (text.size() <= kShownBytes) return shown + "'";
  return shown + "...' (" + std::to_string(text.size()) + " bytes)";
}

}  // namespace velk_run
