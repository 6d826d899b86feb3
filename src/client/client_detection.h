// Is the installed game client running? A process counts when its program file is exactly
// client_dir joined with the manifest's exe (compared ignoring letter case): the same file name
// started from another folder does not, nor does a process whose path cannot be read.
#pragma once

#include <cstdint>
#include <string>

namespace hv {

// The program the running test looks for when no manifest names one yet.
constexpr char16_t kDefaultClientExe[] = u"otclient.exe";

// exe: relative to client_dir with backslash separators, as the manifest writes it; empty means
// kDefaultClientExe. Stores the process id in pid when one is found and pid is given.
bool FindRunningClient(const std::u16string& client_dir, const std::u16string& exe,
                       uint32_t* pid = nullptr);

// The part of exe after its last backslash (only the backslash counts).
std::u16string ClientFileName(const std::u16string& exe);

}  // namespace hv
