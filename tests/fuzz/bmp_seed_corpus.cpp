// Writes the fuzzer's seed corpus: small valid BMP files of each accepted variant and a few
// broken ones, into the folder named by the first argument.
#include <cstdio>
#include <string>
#include <vector>

#include "synth/bmp_test_picture.h"

using qp::synth::testing::BmpLayout;
using qp::synth::testing::MakeBmp;
using qp::synth::testing::PutU16;
using qp::synth::testing::PutU32;

namespace {

void Write(const std::string& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
  FILE* file = std::fopen((dir + "/" + name).c_str(), "wb");
  if (file == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s folder\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  Write(dir, "1x1_24.bmp", MakeBmp(BmpLayout{1, 1, 24}));
  Write(dir, "1x1_32.bmp", MakeBmp(BmpLayout{1, 1, 32}));
  Write(dir, "5x3_24.bmp", MakeBmp(BmpLayout{5, 3, 24}));
  Write(dir, "7x4_32.bmp", MakeBmp(BmpLayout{7, 4, 32}));
  Write(dir, "3x5_topdown.bmp", MakeBmp(BmpLayout{3, 5, 24, true}));
  Write(dir, "4x2_v4.bmp", MakeBmp(BmpLayout{4, 2, 24, false, 108}));
  Write(dir, "3x3_v5_fields.bmp", MakeBmp(BmpLayout{3, 3, 32, false, 124, 3}));
  Write(dir, "2x2_fields.bmp", MakeBmp(BmpLayout{2, 2, 32, false, 40, 3}));
  Write(dir, "3x2_table.bmp", MakeBmp(BmpLayout{3, 2, 24, false, 40, 0, 4}));
  std::vector<uint8_t> dib = MakeBmp(BmpLayout{3, 2, 32, false, 40, 3});
  dib.erase(dib.begin(), dib.begin() + 14);
  Write(dir, "3x2_dib", dib);

  std::vector<uint8_t> b = MakeBmp(BmpLayout{4, 3, 24});
  b.resize(b.size() - 1);
  Write(dir, "broken_rows.bmp", b);
  b = MakeBmp(BmpLayout{4, 3, 24});
  PutU32(b, qp::synth::testing::kBmpWidth, 0x7FFFFFFF);
  Write(dir, "broken_width.bmp", b);
  b = MakeBmp(BmpLayout{4, 3, 24});
  PutU16(b, qp::synth::testing::kBmpBitCount, 8);
  Write(dir, "broken_bits.bmp", b);
  b = MakeBmp(BmpLayout{4, 3, 24});
  PutU32(b, qp::synth::testing::kBmpPixelOffset, 0xFFFFFF00);
  Write(dir, "broken_offset.bmp", b);
  b = MakeBmp(BmpLayout{4, 3, 24});
  PutU32(b, qp::synth::testing::kBmpHeaderSize, 12);
  Write(dir, "broken_core.bmp", b);
  b.resize(30);
  Write(dir, "broken_header.bmp", b);
  return 0;
}
