// The parameter block: the one record that carries the whole effect state to
// the GPU. 49 single-precision floats, packed, field i at byte 4*i, 196 bytes;
// the shader library reads exactly these bytes as one std140 uniform block
// (every member a float, so std140 adds no padding). Nothing here validates:
// any float is stored unchanged. What a value does to the picture is the
// shader library's business.
#pragma once

#include <cstddef>
#include <type_traits>

namespace quelltrine {

struct Uniforms {
  float time = 0.0f;
  float mixAB = 0.5f;
  float feedbackAmt = 0.9f;
  float displaceAmt = 0.02f;
  float zoom = 1.01f;
  float rotate = 0.0f;
  float noiseScale = 3.0f;
  float noiseSpeed = 0.06f;
  float mirrorOn = 0.0f;
  float lensAmt = 0.0f;
  float edgeAmt = 0.0f;
  float mono = 0.0f;
  float contrast = 1.1f;
  float rgbShift = 0.0f;
  float pump = 0.0f;
  float layers = 1.0f;
  float hueShift = 0.0f;
  float fade = 1.0f;
  float strobe = 0.0f;
  float sway = 0.0f;
  float swayY = 0.0f;
  float transZoom = 1.0f;
  float spin = 0.0f;
  float thresh = 0.0f;
  float glow = 0.0f;
  float kaleido = 0.0f;
  float echo = 0.0f;
  float slice = 0.0f;
  float invert = 0.0f;
  float tunnel = 0.0f;
  float pixelate = 0.0f;
  float liquid = 0.0f;
  float vhs = 0.0f;
  float heat = 0.0f;
  float layerCount = 2.0f;
  float blendC = 0.0f;
  float opacC = 0.6f;
  float blendD = 0.0f;
  float opacD = 0.6f;
  float blendB = 0.0f;
  float opacB = 0.0f;
  float wave = 0.0f;
  float boxinator = 0.0f;
  float emboss = 0.0f;
  float checker = 0.0f;
  float implodeZoom = 1.0f;
  float voidPull = 0.0f;
  float tunnelShiftX = 0.0f;
  float tunnelShiftY = 0.0f;

  // The raw view handed to the GPU: the block's address and its length.
  const void* bytes() const { return this; }
  static constexpr std::size_t byteLength = 196;
};

// The byte-level contract with the shader library.
static_assert(sizeof(float) == 4);
static_assert(std::is_standard_layout_v<Uniforms>);
static_assert(std::is_trivially_copyable_v<Uniforms>);
static_assert(sizeof(Uniforms) == Uniforms::byteLength, "Uniforms must be 196 bytes with no padding");
static_assert(offsetof(Uniforms, time) == 0);
static_assert(offsetof(Uniforms, mirrorOn) == 32);
static_assert(offsetof(Uniforms, contrast) == 48);
static_assert(offsetof(Uniforms, glow) == 96);
static_assert(offsetof(Uniforms, heat) == 132);
static_assert(offsetof(Uniforms, layerCount) == 136);
static_assert(offsetof(Uniforms, blendB) == 156);
static_assert(offsetof(Uniforms, opacB) == 160);
static_assert(offsetof(Uniforms, checker) == 176);
static_assert(offsetof(Uniforms, implodeZoom) == 180);
static_assert(offsetof(Uniforms, tunnelShiftY) == 192);

}  // namespace quelltrine
