#include <windows.h>

#include <string>
#include <vector>

#include "core/path_win.h"
#include "runner.h"

// Wide arguments: paths keep every character whatever the code page.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::u16string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(hv::FromW(argv[i], wcslen(argv[i])));
  return hv::runner::RunTool(arguments);
}
