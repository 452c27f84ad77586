// The 15-byte record an analog-input device publishes, saves to history and restores
// from the host's cache. Stored records depend on this layout: never pad or reorder it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/dran_records.h"

#pragma pack(push, 1)
struct AI_Data_t {
  std::uint32_t id;  // the device's data identifier
  float value;       // IEEE-754 single precision, machine byte order
  ttime time;        // local time of the round that produced the record
};
#pragma pack(pop)

static_assert(sizeof(AI_Data_t) == 15, "AI_Data_t is a 15-byte wire record");
static_assert(alignof(AI_Data_t) == 1, "AI_Data_t is packed");
static_assert(offsetof(AI_Data_t, id) == 0 && offsetof(AI_Data_t, value) == 4 &&
                  offsetof(AI_Data_t, time) == 8,
              "AI_Data_t fields sit at offsets 0, 4 and 8");
