// Method-1 encoder: header, then a payload coded with control words when that is smaller than
// storing the input, else the input stored as is.
#include "codec_encode.h"
#include "codec_encode_support.h"

namespace {

constexpr uint32_t kShortHeaderLimit = 216;  // inputs below this get 1-byte size fields
constexpr uint8_t kFlagCoded = 1;
constexpr uint8_t kFlagLongHeader = 2;
constexpr uint32_t kFlagsPerWord = 31;
constexpr uint32_t kEndReserve = 4;  // matches and fills end at least 4 bytes before the end
constexpr uint32_t kMinMatch = 3;
constexpr uint32_t kMinFill = 5;
constexpr uint32_t kMinOffset = 4;  // nearer copies would read bytes of their own 4-byte unit
constexpr uint32_t kMaxOffset = 131071;
constexpr uint32_t kShortFillMax = 4095;

class WordStreamWriter {
 public:
  explicit WordStreamWriter(codec::OutputWriter* out) : out_(out), wordAt_(out->Skip(4)) {}

  void Literal(uint8_t byte) {
    NextFlag(false);
    out_->Put(byte);
  }

  void Match(uint32_t offset, uint32_t length) {
    NextFlag(true);
    if (length == 3 && offset < 64) {
      out_->Put(static_cast<uint8_t>(offset << 2));
    } else if (length <= 18 && offset < 1024) {
      Put16((offset << 6) | ((length - 3) << 2) | 2);
    } else if (length == 3 && offset < 16384) {
      Put16((offset << 2) | 1);
    } else if (length <= 34 && offset < 65536) {
      const uint32_t t = (offset << 8) | ((length - 3) << 3) | 3;
      Put16(t);
      out_->Put(static_cast<uint8_t>(t >> 16));
    } else if (length <= 2050 && offset <= kMaxOffset) {
      out_->Put32((offset << 15) | ((length - 3) << 4) | 7);
    } else {
      out_->Put32(7);
      out_->Put32(length);
      out_->Put32(offset);
    }
  }

  void Fill(uint8_t byte, uint32_t count) {
    NextFlag(true);
    if (count <= kShortFillMax) {
      Put16((count << 4) | 15);
      out_->Put(byte);
    } else {
      Put16(15);
      out_->Put(byte);
      out_->Put32(count);
    }
  }

  void Finish() {
    if (out_->Failed()) return;
    StoreLe32(out_->At(wordAt_), flags_ | 0x80000000u);
  }

 private:
  void NextFlag(bool isMatch) {
    if (used_ == kFlagsPerWord) {
      Finish();
      wordAt_ = out_->Skip(4);
      flags_ = 0;
      used_ = 0;
    }
    if (isMatch) flags_ |= 1u << used_;
    ++used_;
  }
  void Put16(uint32_t value) {
    out_->Put(static_cast<uint8_t>(value));
    out_->Put(static_cast<uint8_t>(value >> 8));
  }

  codec::OutputWriter* out_;
  uint32_t wordAt_;
  uint32_t flags_ = 0;
  uint32_t used_ = 0;
};

uint32_t RunLength(const uint8_t* p, uint32_t limit) {
  uint32_t n = 1;
  while (n < limit && p[n] == p[0]) ++n;
  return n;
}

// Codes the payload; 0 when it does not fit capacity.
uint32_t CodePayload(const uint8_t* input, uint32_t length, uint8_t* output, uint32_t capacity,
                     CompressWorkspace* work) {
  codec::OutputWriter out(output, capacity);
  WordStreamWriter words(&out);
  codec::ClearWorkspace(work);
  // Matches and fills must leave kEndReserve bytes, which are always literals.
  const uint32_t matchEnd = length > kEndReserve ? length - kEndReserve : 0;
  uint32_t position = 0;
  while (position + kMinMatch <= matchEnd && position + 4 <= length) {
    const uint8_t* here = input + position;
    const uint32_t room = matchEnd - position;
    if (here[0] == here[1] && here[1] == here[2]) {
      const uint32_t run = RunLength(here, room);
      if (run >= kMinFill) {
        words.Fill(here[0], run);
        position += run;
        if (out.Failed()) return 0;
        continue;
      }
    }
    const uint32_t hash = codec::HashOf4(here);
    const uint32_t candidate = work->HashTable[hash];
    work->HashTable[hash] = position;
    const uint32_t offset = position - candidate;
    uint32_t matched = 0;
    if (candidate != codec::kNoPosition && candidate < position && offset >= kMinOffset &&
        offset <= kMaxOffset) {
      matched = codec::MatchLength(input + candidate, here, room);
    }
    if (matched < kMinMatch || (matched == kMinMatch && offset >= 16384)) {
      words.Literal(*here);
      ++position;
      continue;
    }
    words.Match(offset, matched);
    position += matched;
    if (out.Failed()) return 0;
  }
  while (position < length) words.Literal(input[position++]);
  words.Finish();
  return out.Failed() ? 0 : out.Size();
}

}  // namespace

uint32_t Method1Bound(uint32_t length) { return length + 9; }

uint32_t CompressMethod1(const uint8_t* input, uint32_t length, uint8_t* output, uint32_t capacity,
                         CompressWorkspace* work) {
  if (length == 0) return 0;
  const bool longHeader = length >= kShortHeaderLimit;
  const uint32_t width = longHeader ? 4 : 1;
  const uint32_t headerLength = 2 * width + 1;
  if (capacity < headerLength) return 0;
  const uint64_t storedSize = static_cast<uint64_t>(headerLength) + length;
  // A reader refuses blocks shorter than a size field plus 5 bytes: tiny inputs are coded.
  const bool storedReadable = storedSize >= width + 5;

  uint32_t payloadRoom = capacity - headerLength;
  if (storedReadable && storedSize - headerLength - 1 < payloadRoom) {
    payloadRoom = static_cast<uint32_t>(storedSize - headerLength - 1);  // coding must pay off
  }
  uint32_t payloadSize = CodePayload(input, length, output + headerLength, payloadRoom, work);
  uint8_t flags = longHeader ? kFlagLongHeader : 0;
  if (payloadSize != 0) {
    flags |= kFlagCoded;
  } else {
    if (!storedReadable || storedSize > capacity) return 0;
    __builtin_memcpy(output + headerLength, input, length);
    payloadSize = length;
  }
  const uint32_t total = headerLength + payloadSize;
  output[0] = flags;
  if (longHeader) {
    StoreLe32(output + 1, total);
    StoreLe32(output + 5, length);
  } else {
    output[1] = static_cast<uint8_t>(total);
    output[2] = static_cast<uint8_t>(length);
  }
  return total;
}
