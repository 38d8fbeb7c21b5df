// Byte-token encoder: greedy hash matcher. Literal runs are written just before the match that
// follows them (the grammar allows a run only after a match), and up to 3 literals after a long
// match travel in its distance byte.
#include "codec_encode.h"
#include "codec_encode_support.h"

namespace {

constexpr uint32_t kShortMaxLength = 8;
constexpr uint32_t kShortMaxDistance = 8192;
constexpr uint32_t kLongMaxDistance = 16383;
constexpr uint32_t kLongMinLength = 4;
constexpr uint32_t kLongDirectMaxCode = 31;  // length - 3 up to here fits the token itself
constexpr uint32_t kSmallRunMax = 31;
constexpr uint32_t kMediumRunMax = 279;
constexpr uint32_t kFixedRun = 280;

class ByteTokenWriter {
 public:
  explicit ByteTokenWriter(codec::OutputWriter* out) : out_(out) {}

  // Literal runs are only legal after a match (or at the start); every caller follows a run
  // with a match or the end marker.
  void Literals(const uint8_t* bytes, uint32_t count) {
    if (count == 0) return;
    if (lastLongDistanceByte_ != kNone && count <= 3) {
      *out_->At(lastLongDistanceByte_) |= static_cast<uint8_t>(count << 6);
      out_->PutBytes(bytes, count);
      lastLongDistanceByte_ = kNone;
      return;
    }
    lastLongDistanceByte_ = kNone;
    while (count > kMediumRunMax) {
      uint32_t piece = kFixedRun;
      uint8_t code = 248;
      for (uint32_t shift = 7; shift >= 1; --shift) {
        if (count >= (256u << shift)) {
          piece = 256u << shift;
          code = static_cast<uint8_t>(248 + shift);
          break;
        }
      }
      out_->Put(0);
      out_->Put(code);
      out_->PutBytes(bytes, piece);
      bytes += piece;
      count -= piece;
    }
    if (count == 0) return;
    if (count <= kSmallRunMax) {
      out_->Put(static_cast<uint8_t>(count));
    } else {
      out_->Put(0);
      out_->Put(static_cast<uint8_t>(count - 32));
    }
    out_->PutBytes(bytes, count);
  }

  void Match(uint32_t distance, uint32_t length) {
    if (length <= kShortMaxLength && distance <= kShortMaxDistance) {
      out_->Put(static_cast<uint8_t>(((length - 1) << 5) | ((distance - 1) & 31)));
      out_->Put(static_cast<uint8_t>((distance - 1) >> 5));
      lastLongDistanceByte_ = kNone;
      return;
    }
    LongToken(distance, length - 3);
    lastLongDistanceByte_ = out_->Size() - 2;
  }

  void End() { LongToken(0, 1); }

 private:
  static constexpr uint32_t kNone = 0xFFFFFFFFu;

  void LongToken(uint32_t distance, uint32_t code) {
    if (code <= kLongDirectMaxCode) {
      out_->Put(static_cast<uint8_t>(32 | code));
    } else {
      out_->Put(32);
      uint32_t rest = code - kLongDirectMaxCode;  // 255 per zero byte, then 1..255
      while (rest > 255) {
        out_->Put(0);
        rest -= 255;
      }
      out_->Put(static_cast<uint8_t>(rest));
    }
    out_->Put(static_cast<uint8_t>(distance & 63));
    out_->Put(static_cast<uint8_t>(distance >> 6));
  }

  codec::OutputWriter* out_;
  uint32_t lastLongDistanceByte_ = kNone;
};

}  // namespace

uint32_t ByteTokenBound(uint32_t length) { return length + length / 16 + 64; }

uint32_t CompressByteTokens(const uint8_t* input, uint32_t length, uint8_t* output, uint32_t capacity,
                            CompressWorkspace* work) {
  codec::OutputWriter out(output, capacity);
  ByteTokenWriter tokens(&out);
  codec::ClearWorkspace(work);

  uint32_t anchor = 0;  // first byte not yet written
  uint32_t position = 0;
  while (length >= 4 && position <= length - 4) {
    const uint32_t hash = codec::HashOf4(input + position);
    const uint32_t candidate = work->HashTable[hash];
    work->HashTable[hash] = position;
    const uint32_t distance = position - candidate;
    if (candidate == codec::kNoPosition || candidate >= position || distance > kLongMaxDistance) {
      position += 1 + ((position - anchor) >> 6);  // skip faster through incompressible data
      continue;
    }
    const uint32_t matched =
        codec::MatchLength(input + candidate, input + position, length - position);
    if (matched < 3 || (matched < kLongMinLength && distance > kShortMaxDistance)) {
      ++position;
      continue;
    }
    tokens.Literals(input + anchor, position - anchor);
    tokens.Match(distance, matched);
    position += matched;
    anchor = position;
    if (position >= 2 && position <= length - 2) {
      work->HashTable[codec::HashOf4(input + position - 2)] = position - 2;
    }
    if (out.Failed()) return 0;
  }
  tokens.Literals(input + anchor, length - anchor);
  tokens.End();
  return out.Failed() ? 0 : out.Size();
}
