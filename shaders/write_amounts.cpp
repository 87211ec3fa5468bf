// The build's tool that writes the slot amounts into the shader library:
// `quelltrine-write-amounts TEMPLATE OUTPUT` reads the checked-in library,
// replaces its //@amounts line with the constants of the effect slots'
// table and writes the result. OUTPUT is opened only once the whole text
// is ready, so a bad template leaves it untouched. It checks no GLSL: the
// build step runs glslangValidator on OUTPUT next.
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "shaders/amount_constants.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: quelltrine-write-amounts TEMPLATE OUTPUT\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in) {
    std::cerr << argv[1] << ": cannot be read\n";
    return 1;
  }
  std::string why;
  const auto library = quelltrine::withAmountConstants(text.str(), quelltrine::kSlotAmounts, why);
  if (!library) {
    std::cerr << argv[1] << ": " << why << "\n";
    return 1;
  }
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out << *library;
  out.close();
  if (!out) {
    std::cerr << argv[2] << ": cannot be written\n";
    return 1;
  }
  return 0;
}
