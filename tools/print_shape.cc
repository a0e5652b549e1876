// Prints the source of an extreme shape, as large as the service accepts, for
// the tests and benchmarks written in JavaScript.
//
//   print_shape            the shapes' names, one a line
//   print_shape NAME       that shape's source, as large as the service accepts, on standard output
#include <cstdio>
#include <cstring>

#include "shapes.h"

int main(int argc, char** argv) {
  const auto& shapes = quern::shapes::all();
  if (argc == 1) {
    for (const auto& shape : shapes) std::printf("%s\n", shape.name);
    return 0;
  }
  for (const auto& shape : shapes) {
    if (argc == 2 && std::strcmp(argv[1], shape.name) == 0) {
      const std::string text = shape.make(quern::shapes::kMaxBody);
      return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() ? 0 : 1;
    }
  }
  std::fprintf(stderr, "usage: print_shape [NAME]\n");
  return 2;
}
