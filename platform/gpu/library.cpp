// Parsing of shader library text into named stage sources (format in
// library.h).
#include "platform/gpu/library.h"

#include <sstream>

namespace plat::gpu {
namespace {

constexpr const char* kStagePreamble =
    "#version 300 es\n"
    "precision highp float;\n"
    "precision highp int;\n"
    "precision highp sampler2D;\n";

// Both stages' mains are renamed so that the library can wrap them. The
// vertex wrapper flips y after the function: a texture's top row must land
// in GL row 0, which is memory row 0. A window's top row is its last GL row,
// so a pass into a window either turns the flip off (quelltrine_windowY) or
// undoes it with an upper-left clip origin, whichever the driver offers.
constexpr const char* kVertexPrologue =
    "uniform bool quelltrine_windowY;\n"
    "#define main quelltrine_vertex_main\n";
constexpr const char* kVertexEpilogue =
    "\n#undef main\n"
    "void main() {\n"
    "  quelltrine_vertex_main();\n"
    "  if (!quelltrine_windowY) gl_Position.y = -gl_Position.y;\n"
    "}\n";

// In a window GL counts fragment rows from the bottom; the fragment wrapper
// counts them from the top again (quelltrine_windowHeight is 0 for a
// texture), for gl_FragCoord and for the sign of dFdy, which the body reaches
// under these names. Unused, they cost nothing: GL drops them.
constexpr const char* kFragmentPrologue =
    "uniform float quelltrine_windowHeight;\n"
    "vec4 quelltrine_FragCoord;\n"
    "float quelltrine_dFdy(float v) { float d = dFdy(v); return quelltrine_windowHeight > 0.0 ? -d : d; }\n"
    "vec2 quelltrine_dFdy(vec2 v) { vec2 d = dFdy(v); return quelltrine_windowHeight > 0.0 ? -d : d; }\n"
    "vec3 quelltrine_dFdy(vec3 v) { vec3 d = dFdy(v); return quelltrine_windowHeight > 0.0 ? -d : d; }\n"
    "vec4 quelltrine_dFdy(vec4 v) { vec4 d = dFdy(v); return quelltrine_windowHeight > 0.0 ? -d : d; }\n"
    "#define main quelltrine_fragment_main\n";
constexpr const char* kFragmentEpilogue =
    "\n#undef main\n"
    "void main() {\n"
    "  quelltrine_FragCoord = gl_FragCoord;\n"
    "  if (quelltrine_windowHeight > 0.0) quelltrine_FragCoord.y = quelltrine_windowHeight - gl_FragCoord.y;\n"
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

bool fail(std::string* error, int line, const std::string& message) {
  if (error) *error = "line " + std::to_string(line) + ": " + message;
  return false;
}

std::string trimmed(const std::string& s) {
  const auto begin = s.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return {};
  const auto end = s.find_last_not_of(" \t\r");
  return s.substr(begin, end - begin + 1);
}

}  // namespace

std::shared_ptr<Library> Library::parse(const std::string& text, std::string* error) {
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
        if (!name.empty()) return fail(error, lineNumber, "//@common takes no arguments"), nullptr;
        if (haveCommon) return fail(error, lineNumber, "a second //@common section"), nullptr;
        haveCommon = true;
        common.firstLine = lineNumber + 1;
        current = &common;
      } else if (keyword == "function") {
        if (name.empty() || stage.empty() || !extra.empty())
          return fail(error, lineNumber, "expected //@function NAME vertex|fragment"), nullptr;
        Section s;
        s.name = name;
        if (stage == "vertex") {
          s.stage = FunctionStage::Vertex;
        } else if (stage == "fragment") {
          s.stage = FunctionStage::Fragment;
        } else {
          return fail(error, lineNumber, "unknown stage '" + stage + "'"), nullptr;
        }
        for (const Section& other : sections)
          if (other.name == name) return fail(error, lineNumber, "function '" + name + "' defined twice"), nullptr;
        s.firstLine = lineNumber + 1;
        sections.push_back(std::move(s));
        current = &sections.back();
      } else {
        return fail(error, lineNumber, "unknown marker //@" + keyword), nullptr;
      }
      continue;
    }
    if (t.rfind("#version", 0) == 0)
      return fail(error, lineNumber, "#version is supplied by the library; remove it"), nullptr;
    if (current != nullptr) current->body += line + "\n";
  }
  if (sections.empty()) return fail(error, lineNumber, "no //@function section"), nullptr;

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
    library->functions_.push_back(std::make_shared<Function>(s.name, s.stage, std::move(source)));
  }
  return library;
}

std::shared_ptr<Function> Library::newFunctionWithName(const std::string& name) const {
  for (const auto& f : functions_)
    if (f->name() == name) return f;
  return nullptr;
}

std::vector<std::string> Library::functionNames() const {
  std::vector<std::string> names;
  for (const auto& f : functions_) names.push_back(f->name());
  return names;
}

}  // namespace plat::gpu
