#include <string>
#include <vector>

#include "core/text.h"
#include "runner.h"

int main(int argc, char** argv) {
  std::vector<std::u16string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(hv::Utf8ToWide(argv[i]));
  return hv::runner::RunTool(arguments);
}
