// The byte-token stream. Every token is checked against the input and the capacity before it
// writes anything, in the order: input (-4), look-behind (-6), output (-5); the literals that
// trail a long match are checked after the match is copied.
#include "codec.h"
#include "codec_copy.h"

namespace {

constexpr uint32_t kExtendedRunMinimum = 248;  // u >= 248: 280 or 512..32768 literals

// Saturates instead of wrapping: a length this large fails the capacity check anyway.
inline uint32_t AddSaturated(uint32_t a, uint32_t b) { return a > 0xFFFFFFFFu - b ? 0xFFFFFFFFu : a + b; }

}  // namespace

int32_t DecompressByteStream(const uint8_t* input, uint32_t inputLength, uint8_t* output,
                             uint32_t capacity, uint32_t* produced) {
  const uint8_t* ip = input;
  const uint8_t* const ipEnd = input + inputLength;
  uint8_t* op = output;
  uint8_t* const opEnd = output + capacity;
  bool afterLiteral = false;
  int32_t result;

  for (;;) {
    if (ip >= ipEnd) {
      result = kEndMarkerMissing;
      break;
    }
    const uint32_t t = *ip++;
    uint32_t inLeft = static_cast<uint32_t>(ipEnd - ip);
    const uint32_t outLeft = static_cast<uint32_t>(opEnd - op);
    const uint32_t written = static_cast<uint32_t>(op - output);

    if (t < 32 && !afterLiteral) {  // literal run
      uint32_t count = t;
      bool staysAfterMatch = false;
      if (t == 0) {
        if (inLeft < 1) {
          result = kInputOverrun;
          break;
        }
        const uint32_t u = *ip++;
        --inLeft;
        if (u < kExtendedRunMinimum) {
          count = u + 32;
        } else {
          count = u == kExtendedRunMinimum ? 280 : 256u << (u - kExtendedRunMinimum);
          staysAfterMatch = true;
        }
      }
      if (count > inLeft) {
        result = kInputOverrun;
        break;
      }
      if (count > outLeft) {
        result = kOutputOverrun;
        break;
      }
      codec::CopyLiterals(op, ip, count, outLeft, inLeft);
      op += count;
      ip += count;
      afterLiteral = !staysAfterMatch;
      continue;
    }

    if (t < 32) {  // after a literal: a 3-byte match and one literal
      if (inLeft < 2) {
        result = kInputOverrun;
        break;
      }
      const uint32_t distance = ip[0] * 32u + t + 1;
      if (distance > written) {
        result = kLookbehindOverrun;
        break;
      }
      if (outLeft < 4) {
        result = kOutputOverrun;
        break;
      }
      const uint8_t* from = op - distance;
      op[0] = from[0];
      op[1] = from[1];
      op[2] = from[2];
      op[3] = ip[1];
      op += 4;
      ip += 2;
      continue;
    }

    uint32_t distance;
    uint32_t length;
    uint32_t trailing = 0;
    if (t >= 64) {  // short match
      if (inLeft < 1) {
        result = kInputOverrun;
        break;
      }
      distance = *ip++ * 32u + (t & 31) + 1;
      length = (t >> 5) + 1;
    } else {  // long match, or the end marker
      length = t & 31;
      if (length == 0) {
        // 31 + 255 per zero byte + the first nonzero byte
        length = 31;
        bool counted = false;
        while (ip < ipEnd) {
          const uint32_t b = *ip++;
          length = AddSaturated(length, b != 0 ? b : 255);
          if (b != 0) {
            counted = true;
            break;
          }
        }
        if (!counted) {
          result = kInputOverrun;
          break;
        }
      }
      if (ipEnd - ip < 2) {
        result = kInputOverrun;
        break;
      }
      distance = ip[1] * 64u + (ip[0] & 63);
      trailing = ip[0] >> 6;
      ip += 2;
      if (distance == 0) {
        result = ip == ipEnd ? kDecodeOk : kInputNotConsumed;
        break;
      }
      length = AddSaturated(length, 3);
    }
    if (distance > written) {
      result = kLookbehindOverrun;
      break;
    }
    if (length > outLeft) {
      result = kOutputOverrun;
      break;
    }
    codec::CopyMatch(op, distance, length, outLeft);
    op += length;
    afterLiteral = trailing != 0;
    if (trailing == 0) continue;
    if (trailing > static_cast<uint32_t>(ipEnd - ip)) {
      result = kInputOverrun;
      break;
    }
    if (trailing > static_cast<uint32_t>(opEnd - op)) {
      result = kOutputOverrun;
      break;
    }
    for (uint32_t i = 0; i < trailing; ++i) op[i] = ip[i];
    op += trailing;
    ip += trailing;
  }
  *produced = static_cast<uint32_t>(op - output);
  return result;
}
