#include "effects/uniforms.h"

namespace quelltrine {
// The block is a plain aggregate; this file pins its layout checks into the
// library build so that a change to the header fails here first.
static_assert(sizeof(Uniforms) == 196);
}  // namespace quelltrine
