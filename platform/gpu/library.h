// Shader libraries: one text file of GLSL ES 3.00 holding several named
// functions, our stand-in for a compiled shader library. Parsing happens here;
// compiling and linking happen when a pipeline is made from two functions
// (render_pipeline.h), because GLSL links whole programs.
//
// File format:
//   Lines before the first marker are ignored (a header comment).
//   //@common                      the shared prelude, prepended to every
//                                  function; at most one, anywhere in the file
//   //@function NAME vertex        a function section, up to the next marker
//   //@function NAME fragment
//   A section body is the body of one shader stage and defines `void main()`.
//   `#version` is not written in the file: the library puts `#version 300 es`
//   first, then default precision (highp float, int, sampler2D), then the
//   prelude, then the body (with #line so that compiler logs name file lines).
//
// Binding conventions (what a pipeline binds by index):
//   fragment texture i   -> the `uniform sampler2D texI;` (tex0 ... tex7)
//   fragment bytes at 0  -> the std140 uniform block named `Params`
//                           (binding point 0); the bytes fill the block from
//                           its first byte, the rest is zero
//   vertex input         -> gl_VertexID only (an empty vertex array is bound)
//   fragment output      -> the one `out vec4` (location 0)
//   samplers             -> linear filtering, clamp to edge
//
// Coordinates (the module thinks with the top-left origin of its platform):
//   A vertex function writes gl_Position with y = +1 at the TOP of the
//   target; the library wraps it so that the top row of the target lands in
//   memory row 0 of a render texture and in the top row of a window. In a
//   fragment function, gl_FragCoord.xy counts pixels from the top-left
//   corner of the target (y downwards) and dFdy is taken downwards, for a
//   texture and a window alike; the library renames both in fragment
//   sources to keep that true in a window, where OpenGL counts from the bottom.
//   A texture coordinate (0,0) samples the first byte row (the top) of a
//   texture. A full-screen vertex function passes uv = (0,0) at the
//   top-left, (1,1) bottom-right.
//   Names that begin with quelltrine_ are the library's own.
//
// Function constants: a function may be asked for with named integer
// constants, which stand as `#define NAME value` lines before its text, for
// `#if` to test (our stand-in for Metal's function constant values). The
// library sets its own defaults with `#ifndef NAME`.
//
// What this does NOT do: no vertex buffers, no includes, no #extension
// lines, no binary caching.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/gpu/types.h"

namespace plat::gpu {

enum class FunctionStage : std::uint8_t { Vertex, Fragment };

// One function constant: NAME must be a preprocessor identifier of the
// library's own (not beginning with quelltrine_, QUELLTRINE_, GL_ or __).
struct FunctionConstant {
  std::string name;
  int value = 0;
};

// Made by Library::newFunctionWithName.
class Function {
 public:
  const std::string& name() const { return name_; }
  FunctionStage stage() const { return stage_; }

 private:
  friend class Library;
  friend struct detail::Access;
  Function(std::string name, FunctionStage stage, std::string source)
      : name_(std::move(name)), stage_(stage), source_(std::move(source)) {}
  // The complete GLSL ES source of this stage for a pass into a texture.
  const std::string& source() const { return source_; }
  // The same for a pass into a window. keepY: the vertex wrapper keeps y as
  // the function wrote it (no upper-left clip origin to turn it over).
  std::string windowSource(bool keepY) const;

  std::string name_;
  FunctionStage stage_;
  std::string source_;
};

class Library {
 public:
  // Parses library text; an Error of kind ShaderLibrary (line number and
  // reason), told to the sink, when it is malformed: no function, a marker
  // without name or with an unknown stage, a name given twice, two //@common
  // sections, a #version line.
  static ErrorOr<std::shared_ptr<Library>> parse(const std::string& text);

  // nullptr when the library has no function of that name (the sink hears
  // of it). A rare operation.
  std::shared_ptr<Function> newFunctionWithName(const std::string& name) const;
  // The same function with constants set (see the file comment); nullptr,
  // told to the sink, for an unknown function or a constant name that is no
  // identifier of the library's own.
  std::shared_ptr<Function> newFunctionWithName(const std::string& name,
                                                const std::vector<FunctionConstant>& constants) const;

 private:
  friend class Device;
  // The parse without telling the sink, for a caller that adds the file.
  static ErrorOr<std::shared_ptr<Library>> parseQuietly(const std::string& text);

  std::vector<std::shared_ptr<Function>> functions_;
};

}  // namespace plat::gpu
