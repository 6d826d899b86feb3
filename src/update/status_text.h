// The one line of the status panel, in the interface language, for a copy of the update status;
// and the short form of a byte count used in it.
#pragma once

#include <cstdint>
#include <string>

#include "core/settings.h"
#include "update/update_status.h"

namespace hv {

struct StatusLine {
  std::u16string text;
  bool error = false;  // exactly when the phase is Failed: the panel shows it as an error
};

StatusLine DescribeStatus(const UpdateStatus& status, UiLanguage language);

// Powers of 1024 labelled GB, MB and KB: "%.2f GB" from 1 GiB on, "%.1f MB" from 1 MiB on,
// "%.0f KB" below, with a full stop as decimal separator in every language.
std::u16string FormatSize(uint64_t bytes);

}  // namespace hv
