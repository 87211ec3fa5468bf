// The slot effects' amounts as GLSL: the build writes them into the shader
// library in place of its one `//@amounts` line, as one constant per effect,
// `const float <field>Full = <amount>;`, before it checks and bundles the
// library. This does NOT check the GLSL (glslangValidator does, in the same
// build step) and knows nothing of what the library does with the numbers.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "effects/slot_amounts.h"

namespace quelltrine {

// The marker line, alone on its line (blanks around it allowed).
inline constexpr std::string_view kAmountsMarker = "//@amounts";

// A float as a GLSL ES float literal that reads back as the same float: the
// shortest decimal that does, with a decimal point even for a whole number
// (GLSL ES converts no int constant to float).
std::string glslFloat(float value);

// `library` with its marker line replaced by the constants of `amounts`, in
// table order. Nothing, and `why` says so, when the text has no marker line
// or more than one.
std::optional<std::string> withAmountConstants(std::string_view library, std::span<const SlotAmount> amounts,
                                               std::string& why);

}  // namespace quelltrine
