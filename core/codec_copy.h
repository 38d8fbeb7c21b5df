// The copies both block decoders share. The "wide" copies move 8 or 16 bytes per step and may
// touch up to 15 bytes past the exact end: callers use them only when the room they were given
// covers that slack.
#pragma once
#include <stdint.h>

#include "little_endian.h"

namespace codec {

inline void Copy8(uint8_t* to, const uint8_t* from) {
  uint64_t v;
  __builtin_memcpy(&v, from, 8);
  __builtin_memcpy(to, &v, 8);
}

inline void Copy16(uint8_t* to, const uint8_t* from) {
  uint8_t v[16];
  __builtin_memcpy(v, from, 16);
  __builtin_memcpy(to, v, 16);
}

// Slack a wide copy may write past its length (and read past its source).
constexpr uint32_t kWideSlack = 15;

// Non-overlapping copy of count bytes (count <= both rooms); wide when both sides have the slack.
inline void CopyLiterals(uint8_t* to, const uint8_t* from, uint32_t count, uint32_t toRoom,
                         uint32_t fromRoom) {
  if (toRoom - count >= kWideSlack && fromRoom - count >= kWideSlack) {
    uint8_t* const end = to + count;
    do {
      Copy16(to, from);
      to += 16;
      from += 16;
    } while (to < end);
    return;
  }
  __builtin_memcpy(to, from, count);
}

// LZ match: length bytes from to - distance (1 <= distance <= bytes already written), where a
// distance shorter than the length repeats the pattern. room = writable bytes at to (>= length).
inline void CopyMatch(uint8_t* to, uint32_t distance, uint32_t length, uint32_t room) {
  const uint8_t* from = to - distance;
  const bool wideRoom = room - length >= kWideSlack;
  if (distance == 1 && length >= 64) {
    __builtin_memset(to, *from, length);  // long runs: the zero block is one such match
    return;
  }
  if (wideRoom) {
    uint8_t* const end = to + length;
    if (distance >= 16) {
      do {
        Copy16(to, from);
        to += 16;
        from += 16;
      } while (to < end);
      return;
    }
    if (distance >= 8) {
      do {
        Copy8(to, from);
        to += 8;
        from += 8;
      } while (to < end);
      return;
    }
    // Short period: lay down 8 bytes of the pattern, then copy from a whole number of
    // periods back (at least 8 bytes), which holds the same bytes.
    for (int i = 0; i < 8; ++i) to[i] = from[i];
    uint32_t period = distance;
    while (period < 8) period += distance;
    for (uint8_t* p = to + 8; p < end; p += 8) Copy8(p, p - period);
    return;
  }
  if (distance >= length) {
    __builtin_memcpy(to, from, length);
    return;
  }
  for (uint32_t i = 0; i < length; ++i) to[i] = from[i];
}

}  // namespace codec
