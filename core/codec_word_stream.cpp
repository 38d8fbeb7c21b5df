// Method-1 coded payload: 32-bit control words (31 flags each, bit 31 the sentinel), literals
// and match or fill tokens. Every read is bounded by the payload and every write by the
// decompressed size; a payload that would pass either stops decoding and reports failure.
#include "codec.h"
#include "codec_copy.h"

namespace {

constexpr uint32_t kControlSentinel = 0x80000000u;
constexpr uint32_t kControlUsedUp = 1;  // only the sentinel is left after 31 shifts
constexpr uint32_t kControlWordBytes = 4;
// Matches and fills end at least this many bytes before the end; literals need this much room.
constexpr uint32_t kEndReserve = 4;
// Far from both ends a whole run of literal flags is copied at once with two wide copies.
constexpr uint32_t kLiteralFastRoom = 48;

struct Token {
  uint32_t Bytes;
  uint32_t Length;
  uint32_t Offset;
  bool IsFill;
  uint8_t FillByte;
};

// Up to 4 bytes at p, zero-padded past the end (only the token's own bytes are ever used).
inline uint32_t LoadUpTo32(const uint8_t* p, uint32_t available) {
  if (available >= 4) return LoadLe32(p);
  uint32_t v = 0;
  for (uint32_t i = 0; i < available; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
  return v;
}

// Decodes the token at in; false when its bytes pass the input.
inline bool ReadToken(const uint8_t* in, uint32_t inLeft, Token* token) {
  if (inLeft == 0) return false;
  const uint32_t t = LoadUpTo32(in, inLeft);
  switch (t & 3) {
    case 0:
      *token = {1, 3, (t & 0xFF) >> 2, false, 0};
      break;
    case 1:
      *token = {2, 3, (t & 0xFFFF) >> 2, false, 0};
      break;
    case 2:
      *token = {2, ((t >> 2) & 15) + 3, (t & 0xFFFF) >> 6, false, 0};
      break;
    default:
      if ((t & 4) == 0) {
        *token = {3, ((t >> 3) & 31) + 3, (t >> 8) & 0xFFFF, false, 0};
      } else if ((t & 8) == 0) {
        if ((t >> 15) != 0) {
          *token = {4, ((t >> 4) & 0x7FF) + 3, t >> 15, false, 0};
        } else {
          if (inLeft < 12) return false;
          *token = {12, LoadLe32(in + 4), LoadLe32(in + 8), false, 0};
        }
      } else {
        const uint8_t fillByte = static_cast<uint8_t>(t >> 16);
        const uint32_t count = (t >> 4) & 0xFFF;
        if (count != 0) {
          *token = {3, count, 0, true, fillByte};
        } else {
          if (inLeft < 7) return false;
          *token = {7, LoadLe32(in + 3), 0, true, fillByte};
        }
      }
  }
  return token->Bytes <= inLeft;
}

// The format's copy: 4-byte units, each read before it is written; may write up to 3 bytes
// past length (room is kept by the end reserve). Offsets below 4 read bytes of the unit being
// written, so those keep exactly this unit order.
inline void CopyUnits(uint8_t* out, uint32_t offset, uint32_t length) {
  const uint8_t* from = out - offset;
  uint32_t done = 0;
  do {
    StoreLe32(out + done, LoadLe32(from + done));
    done += 4;
  } while (done < length);
}

}  // namespace

bool DecompressWordStream(const uint8_t* payload, uint32_t payloadLength, uint8_t* output,
                          uint32_t decompressedSize, uint32_t totalSize, const uint8_t* outputStart) {
  const uint8_t* in = payload;
  // The header's total size can only narrow the bound: reads never pass the real input.
  const uint8_t* const inEnd = payload + (totalSize < payloadLength ? totalSize : payloadLength);
  uint8_t* out = output;
  uint8_t* const end = output + decompressedSize;

  if (decompressedSize <= 4) {  // one skipped control word, then the bytes themselves
    if (static_cast<uint32_t>(inEnd - in) < kControlWordBytes + decompressedSize) return false;
    __builtin_memcpy(out, in + kControlWordBytes, decompressedSize);
    return true;
  }

  uint32_t control = kControlUsedUp;
  for (;;) {
    if (control == kControlUsedUp) {
      if (inEnd - in < 4) return false;
      control = LoadLe32(in) | kControlSentinel;
      in += kControlWordBytes;
    }
    const uint32_t inLeft = static_cast<uint32_t>(inEnd - in);
    const uint32_t outLeft = static_cast<uint32_t>(end - out);

    if (control & 1) {
      control >>= 1;
      Token token;
      if (!ReadToken(in, inLeft, &token)) return false;
      if (outLeft < kEndReserve || token.Length > outLeft - kEndReserve) return false;
      in += token.Bytes;
      if (token.IsFill) {
        __builtin_memset(out, token.FillByte, token.Length);
      } else {
        if (token.Offset > static_cast<uint32_t>(out - outputStart)) return false;
        if (token.Offset >= 4) {
          codec::CopyMatch(out, token.Offset, token.Length, outLeft);
        } else {
          CopyUnits(out, token.Offset, token.Length);
        }
      }
      out += token.Length;
      continue;
    }

    // Literals. The run of literal flags is taken whole when far from both ends; near them,
    // in groups of up to 4 with the format's checks.
    if (outLeft >= kLiteralFastRoom && inLeft >= 32) {
      const uint32_t count = static_cast<uint32_t>(__builtin_ctz(control));
      codec::Copy16(out, in);
      codec::Copy16(out + 16, in + 16);
      in += count;
      out += count;
      control >>= count;
      continue;
    }
    if (outLeft < kEndReserve) return false;
    const uint32_t low = control & 15;
    const uint32_t count = low == 0 ? 4 : static_cast<uint32_t>(__builtin_ctz(low));
    if (inLeft < count) return false;
    for (uint32_t i = 0; i < count; ++i) out[i] = in[i];
    in += count;
    out += count;
    control >>= count;
    if (end - out >= 5) continue;
    break;
  }

  // Tail: the last bytes are literals whatever their flags say; a spent control word is
  // skipped unread.
  while (out < end) {
    if (control == kControlUsedUp) {
      if (static_cast<uint32_t>(inEnd - in) < kControlWordBytes) return false;
      in += kControlWordBytes;
      control = kControlSentinel;
    }
    control >>= 1;
    if (in >= inEnd) return false;
    *out++ = *in++;
  }
  return true;
}
