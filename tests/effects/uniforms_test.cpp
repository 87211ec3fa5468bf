// The parameter block's byte image: the shader library reads these 196 bytes
// as they are, so the defaults must sit at fixed offsets.
#include <cstdint>
#include <cstring>
#include <map>

#include <gtest/gtest.h>

#include "effects/uniforms.h"

namespace quelltrine {
namespace {

float floatAt(const Uniforms& u, std::size_t offset) {
  float f;
  std::memcpy(&f, static_cast<const unsigned char*>(u.bytes()) + offset, sizeof f);
  return f;
}

TEST(Uniforms, NewBlockHoldsFourteenDefaultsAndZeroBytesElsewhere) {
  const std::map<std::size_t, float> nonZero{
      {4, 0.5f}, {8, 0.9f}, {12, 0.02f}, {16, 1.01f}, {24, 3.0f}, {28, 0.06f}, {48, 1.1f},
      {60, 1.0f}, {68, 1.0f}, {84, 1.0f}, {136, 2.0f}, {144, 0.6f}, {152, 0.6f}, {180, 1.0f}};
  Uniforms u;
  ASSERT_EQ(Uniforms::byteLength, 196u);
  ASSERT_EQ(sizeof(Uniforms), 196u);
  const auto* raw = static_cast<const unsigned char*>(u.bytes());
  for (std::size_t off = 0; off < 196; off += 4) {
    auto it = nonZero.find(off);
    if (it != nonZero.end()) {
      EXPECT_EQ(floatAt(u, off), it->second) << "offset " << off;
    } else {
      for (std::size_t b = off; b < off + 4; ++b) EXPECT_EQ(raw[b], 0) << "byte " << b;
    }
  }
}

}  // namespace
}  // namespace quelltrine
