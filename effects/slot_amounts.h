// The slot effects' amounts: for each effect index 1..11 the field of the
// parameter block it drives and that field's value at full envelope. These
// numbers live here alone. The slot step multiplies them by the envelope;
// the build writes them into the shader library as constants (`<field>Full`,
// e.g. `liquidFull`), by which the library divides each field back to a
// strength of 1 at full envelope, so the two sides cannot disagree. This
// file does NOT say what an effect looks like (the shader library's
// business) nor how the envelope runs (slots.h).
#pragma once

#include <array>
#include <limits>
#include <string_view>

#include "effects/uniforms.h"

namespace quelltrine {

struct SlotAmount {
  std::string_view field;  // the field's name, the same in Uniforms and in the shader library's block
  float Uniforms::*member;
  float full;  // the field's value at full envelope; the lens swings between -full and +full
};

// Effect index i drives entry i - 1.
inline constexpr std::array<SlotAmount, 11> kSlotAmounts{{
    {"liquid", &Uniforms::liquid, 0.55f},
    {"kaleido", &Uniforms::kaleido, 0.5f},
    {"tunnel", &Uniforms::tunnel, 0.45f},
    {"wave", &Uniforms::wave, 0.4f},
    {"boxinator", &Uniforms::boxinator, 0.4f},
    {"checker", &Uniforms::checker, 0.45f},
    {"heat", &Uniforms::heat, 0.6f},
    {"emboss", &Uniforms::emboss, 0.55f},
    {"pixelate", &Uniforms::pixelate, 0.35f},
    {"edgeAmt", &Uniforms::edgeAmt, 0.4f},
    {"lensAmt", &Uniforms::lensAmt, 0.3f},
}};

// The shader library divides by these amounts, so each is a positive,
// finite number (a negative one would turn its effect inside out).
consteval bool allAmountsPositiveAndFinite() {
  for (const SlotAmount& a : kSlotAmounts)
    if (!(a.full > 0.0f && a.full <= std::numeric_limits<float>::max())) return false;
  return true;
}
static_assert(allAmountsPositiveAndFinite());

}  // namespace quelltrine
