#include "publish/manifest_text.h"

#include "core/text.h"
#include "publish/text_rules.h"

namespace hv::publish {
namespace {

void AppendField(std::string& text, std::string_view key, std::string_view value) {
  if (value.empty()) return;
  text.append(key).append(" ").append(value).append("\n");
}

std::string EscapeNotes(std::string_view notes) {
  std::string escaped;
  escaped.reserve(notes.size());
  for (char c : notes) {
    if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

}  // namespace

std::string NotesProblem(std::string_view notes) {
  if (!IsValidUtf8(notes)) return "is not valid UTF-8";
  if (notes.find('\r') != std::string_view::npos) return "holds a CR; use line feeds alone";
  if (notes.find("\\n") != std::string_view::npos) {
    return "holds a backslash followed by 'n', which the launcher would show as a line break";
  }
  return {};
}

std::string ComposeManifest(const Release& release, const std::vector<ManifestEntry>& entries) {
  std::string text = "HALVORYN-MANIFEST 1\n";
  AppendField(text, "version", release.version);
  AppendField(text, "min_version", release.min_version);
  AppendField(text, "launcher_min", release.launcher_min);
  AppendField(text, "exe", WideToUtf8(release.exe));
  AppendField(text, "notes_pt", EscapeNotes(release.notes_pt));
  AppendField(text, "notes_en", EscapeNotes(release.notes_en));
  AppendField(text, "privacy_url", release.privacy_url);
  for (const ManifestEntry& entry : entries) {
    text.append("file ").append(WideToUtf8(entry.sha256)).append(" ");
    text.append(std::to_string(entry.size)).append(" ").append(WideToUtf8(entry.path));
    text.append("\n");
  }
  return text;
}

std::string ReadBackProblem(const Manifest& parsed, const Release& release,
                            const std::vector<ManifestEntry>& entries) {
  const std::string& min_version =
      release.min_version.empty() ? release.version : release.min_version;
  if (parsed.version != release.version) return "version";
  if (parsed.min_version != min_version) return "min_version";
  if (parsed.launcher_min != release.launcher_min) return "launcher_min";
  if (parsed.exe != release.exe) return "exe";
  if (parsed.notes_pt != Utf8ToWide(release.notes_pt)) return "notes_pt";
  if (parsed.notes_en != Utf8ToWide(release.notes_en)) return "notes_en";
  if (parsed.privacy_url != Utf8ToWide(release.privacy_url)) return "privacy_url";
  if (parsed.entries != entries) return "file lines";
  return {};
}

}  // namespace hv::publish
