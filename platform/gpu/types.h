// The plain values shared by every GPU object family: pixel formats, usage
// bits, storage modes, pass actions, primitive types and the origin/extent/
// region triple that addresses texels. Like every header of this folder it
// says nothing of the backing (OpenGL ES 3.0): that lives in the .cpp files
// and in the headers of gl/, which only this layer's own code includes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat::gpu {

// Only one format exists: 8-bit unsigned normalised, bytes in memory blue,
// green, red, alpha. The numeric value is kept so that stored or logged values
// read the same as elsewhere.
enum class PixelFormat : std::uint32_t { Invalid = 0, BGRA8Unorm = 80 };

namespace TextureUsage {
constexpr std::uint32_t ShaderRead = 1, ShaderWrite = 2, RenderTarget = 4;
}

// Accepted and reported back; every texture lives in GPU memory and may be
// read and written by the CPU through replaceRegion/getBytes whatever the mode.
enum class StorageMode : std::uint32_t { Shared = 0, Managed = 1, Private = 2 };

enum class LoadAction : std::uint32_t { DontCare = 0, Load = 1, Clear = 2 };
enum class StoreAction : std::uint32_t { DontCare = 0, Store = 1 };
enum class PrimitiveType : std::uint32_t { Point = 0, Line = 1, LineStrip = 2, Triangle = 3, TriangleStrip = 4 };

struct ClearColor {
  double red = 0, green = 0, blue = 0, alpha = 1;
};

// Texel addresses: x to the right, y downwards from the top row (memory row
// 0), z unused (2D textures only).
struct Origin {
  std::size_t x = 0, y = 0, z = 0;
};
struct Extent {
  std::size_t width = 0, height = 0, depth = 1;
};
struct Region {
  Origin origin;
  Extent size;
};

inline Region makeRegion(std::size_t x, std::size_t y, std::size_t width, std::size_t height) {
  return Region{{x, y, 0}, {width, height, 1}};
}

namespace detail {
class Core;     // the device's context and the state it shares (gl/core.h)
struct Access;  // the backing's way into the objects' private parts (gl/objects.h)
}

}  // namespace plat::gpu
