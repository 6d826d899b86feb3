// What Windows accepts as a file or folder name, beyond hv::IsSafeRelativePath (which the
// launcher applies to every manifest path): the device names it reserves in every folder, the
// rules for one folder name (the launcher names its backup folder after the release's version),
// and when two names mean the same file there.
#pragma once

#include <string>
#include <string_view>

namespace hv::publish {

// CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-COM9, LPT0-LPT9 and COM/LPT with a superscript 1-3,
// in any ASCII case, alone or before an extension ("nul.txt", "Com1.tar.gz") and with spaces
// before the dot ("NUL .txt"): Windows opens the device instead of a file for each. Wider than
// hv::IsReservedDeviceName, the launcher's own rule for manifest paths, on purpose: a release
// must also install where Windows is stricter than that rule.
bool IsWindowsDeviceName(std::u16string_view component);

// Empty when name can be one folder name on Windows; otherwise what is wrong, as a phrase that
// follows the name ("is empty", "ends in a dot or a space", ...).
std::string FolderNameProblem(std::u16string_view name);

// Equal for two paths exactly when Windows sees one file: case folded with the simple uppercase
// mapping of every character, not only ASCII (NTFS compares names through such a table).
std::u32string WindowsNameKey(std::u16string_view path);

}  // namespace hv::publish
