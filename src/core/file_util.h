// The file-system toolkit: paths, existence tests, folder chains, whole-file reads with a limit,
// atomic replacement, tree removal and the safety test for relative paths taken from a manifest.
//
// Paths are UTF-16. The backslash and the slash both count as separators wherever a path is split
// or inspected; the only separator ever inserted is the backslash (the POSIX file layer maps it to
// '/' when it hands a path to the OS). Nothing is normalised by the string functions.
//
// Every operation is stateless, thread-safe on distinct files, and reports any failure as a false
// result; platform error codes are not exposed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hv {

// Bitwise, not short-circuit: it runs per character in hot loops, where branches cost.
inline bool IsPathSeparator(char16_t c) { return (c == u'\\') | (c == u'/'); }

// folder + name, inserting a backslash unless the folder is empty or already ends in a separator.
std::u16string JoinPath(std::u16string_view folder, std::u16string_view name);

bool FileExists(const std::u16string& path);       // exists and is not a directory
bool DirectoryExists(const std::u16string& path);  // exists and is a directory

// Size in bytes and last-write time in 100 ns units since 1601-01-01 UTC. False for a missing
// path or a directory; the outputs are then untouched.
bool GetFileSizeAndTime(const std::u16string& path, uint64_t& size, uint64_t& write_time);

// Creates the folder and any missing parents. True when it exists afterwards, and also when a
// plain file of that name is in the way (the caller's first write inside it then fails). A drive
// root or the leading backslashes of a network path are never created.
bool EnsureDirectory(const std::u16string& path);
bool EnsureParentDirectory(const std::u16string& path);

// Reads the whole file when it is at most max_size bytes. On false, out is meaningless.
bool ReadWholeFile(const std::u16string& path, std::string& out, uint64_t max_size);

// Writes path + ".tmp", flushes it to the disk and renames it over path, so readers see either
// the old or the new contents. A failed write removes the temporary file; a failed rename leaves
// it (the next successful write replaces it). Two concurrent writes of one path are not supported.
bool WriteFileAtomic(const std::u16string& path, std::string_view bytes);

// Deletes the folder and everything below it, read-only files included. A link (junction or
// symbolic link) is removed as an entry and never followed, so nothing outside the tree is
// touched. True for a missing path or a plain file (left alone); otherwise true only when the
// folder itself is gone.
bool RemoveTree(const std::u16string& path);

// Renames from over to (a file already at to is replaced). With allow_copy, a move the OS cannot
// do as a rename (across volumes) is done as a copy and a delete.
bool MoveFileReplacing(const std::u16string& from, const std::u16string& to, bool allow_copy);

// Copies from to to, replacing a file at to. On POSIX the copy appears under its name only once
// it is complete; Windows' CopyFileW gives no such promise.
bool CopyFileReplacing(const std::u16string& from, const std::u16string& to);

// The bytes the calling user may still write on the volume that holds path.
bool GetAvailableDiskSpace(const std::u16string& path, uint64_t& bytes);

// A name Windows reserves for a device (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, in any letter
// case, with or without an extension): unusable as a file or folder name there.
bool IsReservedDeviceName(std::u16string_view name);

struct DirectoryEntry {
  std::u16string name;
  bool is_directory = false;  // a link to a folder counts as a folder
};

// The entries of folder except "." and "..", in the platform's listing order. False when the
// folder cannot be listed.
bool ListDirectory(const std::u16string& folder, std::vector<DirectoryEntry>& entries);

// True when a relative path from the manifest may be used under client_dir: 1 to 240 units, no
// leading separator, no ':', no control character or any of "*<>?|, no empty, "." or ".."
// component, no component ending in a space or a dot, and the canonical absolute form of
// client_dir + path stays inside client_dir within 519 units. client_dir is absolute and has no
// trailing separator; it is not canonicalised. The disk is never consulted.
bool IsSafeRelativePath(const std::u16string& client_dir, std::u16string_view relative_path);

}  // namespace hv
