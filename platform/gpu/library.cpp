// Parsing of shader library text into named stage sources (format in
// library.h).
#include "platform/gpu/library.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "platform/error_sink.h"

namespace plat::gpu {
namespace {

constexpr const char* kStagePreamble =
    "#version 300 es\n"
    "precision highp float;\n"
    "precision highp int;\n"
    "precision highp sampler2D;\n";

// Both stages' mains are renamed so that the library can wrap them. A pass
// into a window compiles the same text with QUELLTRINE_WINDOW defined (and
// QUELLTRINE_KEEP_Y where the driver cannot turn y over with its clip
// origin); a pass into a texture gets the plain text, which costs nothing
// beyond the function itself.
//
// The vertex wrapper flips y after the function: a texture's top row must
// land in GL row 0, which is memory row 0. A window's top row is its last GL
// row, so a pass into a window either keeps y or undoes the flip with an
// upper-left clip origin.
constexpr const char* kVertexPrologue = "#define main quelltrine_vertex_main\n";
constexpr const char* kVertexEpilogue =
    "\n#undef main\n"
    "void main() {\n"
    "  quelltrine_vertex_main();\n"
    "#ifndef QUELLTRINE_KEEP_Y\n"
    "  gl_Position.y = -gl_Position.y;\n"
    "#endif\n"
    "}\n";

// In a window GL counts fragment rows from the bottom; the fragment wrapper
// counts them from the top again, for gl_FragCoord and for the sign of dFdy,
// which the body reaches under these names.
constexpr const char* kFragmentPrologue =
    "#ifdef QUELLTRINE_WINDOW\n"
    "uniform float quelltrine_windowHeight;\n"
    "vec4 quelltrine_FragCoord;\n"
    "float quelltrine_dFdy(float v) { return -dFdy(v); }\n"
    "vec2 quelltrine_dFdy(vec2 v) { return -dFdy(v); }\n"
    "vec3 quelltrine_dFdy(vec3 v) { return -dFdy(v); }\n"
    "vec4 quelltrine_dFdy(vec4 v) { return -dFdy(v); }\n"
    "#else\n"
    "#define quelltrine_FragCoord gl_FragCoord\n"
    "#define quelltrine_dFdy dFdy\n"
    "#endif\n"
    "#define main quelltrine_fragment_main\n";
constexpr const char* kFragmentEpilogue =
    "\n#undef main\n"
    "void main() {\n"
    "#ifdef QUELLTRINE_WINDOW\n"
    "  quelltrine_FragCoord = vec4(gl_FragCoord.x, quelltrine_windowHeight - gl_FragCoord.y, gl_FragCoord.zw);\n"
    "#endif\n"
    "  quelltrine_fragment_main();\n"
    "}\n";

// `from` replaced by `to` wherever it stands as a whole identifier.
std::string renameIdentifier(const std::string& text, const std::string& from, const std::string& to) {
  auto identifierChar = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  };
  std::string out;
  std::size_t done = 0;
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + from.size())) {
    const std::size_t end = at + from.size();
    if ((at > 0 && identifierChar(text[at - 1])) || (end < text.size() && identifierChar(text[end]))) continue;
    out.append(text, done, at - done).append(to);
    done = end;
  }
  return out.append(text, done, std::string::npos);
}

struct Section {
  std::string name;
  FunctionStage stage = FunctionStage::Vertex;
  int firstLine = 0;  // 1-based line of the first body line
  std::string body;
};

Error fail(int line, const std::string& message) {
  return Error{ErrorKind::ShaderLibrary, "library", "line " + std::to_string(line) + ": " + message, {}};
}

std::string trimmed(const std::string& s) {
  const auto begin = s.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return {};
  const auto end = s.find_last_not_of(" \t\r");
  return s.substr(begin, end - begin + 1);
}

}  // namespace

ErrorOr<std::shared_ptr<Library>> Library::parse(const std::string& text) {
  return plat::detail::reportFailure(parseQuietly(text));
}

ErrorOr<std::shared_ptr<Library>> Library::parseQuietly(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  int lineNumber = 0;
  bool haveCommon = false;
  Section common;
  std::vector<Section> sections;
  Section* current = nullptr;  // nullptr: before the first marker

  while (std::getline(in, line)) {
    ++lineNumber;
    const std::string t = trimmed(line);
    if (t.rfind("//@", 0) == 0) {
      std::istringstream words(t.substr(3));
      std::string keyword, name, stage, extra;
      words >> keyword >> name >> stage >> extra;
      if (keyword == "common") {
        if (!name.empty()) return fail(lineNumber, "//@common takes no arguments");
        if (haveCommon) return fail(lineNumber, "a second //@common section");
        haveCommon = true;
        common.firstLine = lineNumber + 1;
        current = &common;
      } else if (keyword == "function") {
        if (name.empty() || stage.empty() || !extra.empty())
          return fail(lineNumber, "expected //@function NAME vertex|fragment");
        Section s;
        s.name = name;
        if (stage == "vertex") {
          s.stage = FunctionStage::Vertex;
        } else if (stage == "fragment") {
          s.stage = FunctionStage::Fragment;
        } else {
          return fail(lineNumber, "unknown stage '" + stage + "'");
        }
        for (const Section& other : sections)
          if (other.name == name) return fail(lineNumber, "function '" + name + "' defined twice");
        s.firstLine = lineNumber + 1;
        sections.push_back(std::move(s));
        current = &sections.back();
      } else {
        return fail(lineNumber, "unknown marker //@" + keyword);
      }
      continue;
    }
    if (t.rfind("#version", 0) == 0)
      return fail(lineNumber, "#version is supplied by the library; remove it");
    if (current != nullptr) current->body += line + "\n";
  }
  if (sections.empty()) return fail(lineNumber, "no //@function section");

  auto library = std::make_shared<Library>();
  for (const Section& s : sections) {
    const bool vertex = s.stage == FunctionStage::Vertex;
    std::string code;
    if (haveCommon) code += "#line " + std::to_string(common.firstLine) + "\n" + common.body;
    code += "#line " + std::to_string(s.firstLine) + "\n" + s.body;
    if (!vertex) code = renameIdentifier(renameIdentifier(code, "gl_FragCoord", "quelltrine_FragCoord"), "dFdy",
                                         "quelltrine_dFdy");
    std::string source = kStagePreamble;
    source += vertex ? kVertexPrologue : kFragmentPrologue;
    source += code;
    source += vertex ? kVertexEpilogue : kFragmentEpilogue;
    library->functions_.push_back(std::shared_ptr<Function>(new Function(s.name, s.stage, std::move(source))));
  }
  return library;
}

std::string Function::windowSource(bool keepY) const {
  // After the #version line, which must stay first.
  const std::size_t line = source_.find('\n') + 1;
  return source_.substr(0, line) + "#define QUELLTRINE_WINDOW 1\n" + (keepY ? "#define QUELLTRINE_KEEP_Y 1\n" : "") +
         source_.substr(line);
}

std::shared_ptr<Function> Library::newFunctionWithName(const std::string& name,
                                                       const std::vector<FunctionConstant>& constants) const {
  auto plain = newFunctionWithName(name);
  if (!plain) return nullptr;
  std::string defines;
  for (const FunctionConstant& c : constants) {
    const std::string& n = c.name;
    auto word = [](char ch) { return std::isalnum(static_cast<unsigned char>(ch)) != 0 || ch == '_'; };
    const bool identifier =
        !n.empty() && std::isdigit(static_cast<unsigned char>(n[0])) == 0 && std::all_of(n.begin(), n.end(), word);
    if (!identifier || n.starts_with("quelltrine_") || n.starts_with("QUELLTRINE_") || n.starts_with("GL_") ||
        n.starts_with("__")) {
      plat::detail::report(Error{ErrorKind::ShaderLibrary, "library",
                                 "'" + n + "' cannot be a constant of the function '" + name + "'", {}});
      return nullptr;
    }
    defines += "#define " + n + " " + std::to_string(c.value) + "\n";
  }
  // After the #version line, which must stay first.
  const std::string& source = plain->source_;
  const std::size_t line = source.find('\n') + 1;
  return std::shared_ptr<Function>(
      new Function(name, plain->stage_, source.substr(0, line) + defines + source.substr(line)));
}

std::shared_ptr<Function> Library::newFunctionWithName(const std::string& name) const {
  for (const auto& f : functions_)
    if (f->name() == name) return f;
  plat::detail::report(
      Error{ErrorKind::ShaderLibrary, "library", "the shader library has no function '" + name + "'", {}});
  return nullptr;
}

}  // namespace plat::gpu
