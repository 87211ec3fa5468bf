// Parsing of shader library text into named stage sources (format in
// library.h).
#include "platform/gpu/library.h"

#include <sstream>

#include "platform/error_sink.h"

namespace plat::gpu {
namespace {

constexpr const char* kStagePreamble =
    "#version 300 es\n"
    "precision highp float;\n"
    "precision highp int;\n"
    "precision highp sampler2D;\n";

// The vertex stage's main is renamed so that a wrapper can flip y after it:
// the target's top row must land in GL row 0, which is memory row 0.
constexpr const char* kVertexRename = "#define main quelltrine_vertex_main\n";
constexpr const char* kVertexEpilogue =
    "\n#undef main\n"
    "void main() {\n"
    "  quelltrine_vertex_main();\n"
    "  gl_Position.y = -gl_Position.y;\n"
    "}\n";

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
    std::string source = kStagePreamble;
    if (s.stage == FunctionStage::Vertex) source += kVertexRename;
    if (haveCommon) source += "#line " + std::to_string(common.firstLine) + "\n" + common.body;
    source += "#line " + std::to_string(s.firstLine) + "\n" + s.body;
    if (s.stage == FunctionStage::Vertex) source += kVertexEpilogue;
    library->functions_.push_back(std::make_shared<Function>(s.name, s.stage, std::move(source)));
  }
  return library;
}

std::shared_ptr<Function> Library::newFunctionWithName(const std::string& name) const {
  for (const auto& f : functions_)
    if (f->name() == name) return f;
  plat::detail::report(
      Error{ErrorKind::ShaderLibrary, "library", "the shader library has no function '" + name + "'", {}});
  return nullptr;
}

}  // namespace plat::gpu
