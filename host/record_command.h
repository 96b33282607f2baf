#pragma once

#include "host/host_options.h"

namespace strandline::host {

// Records one stream as the options say and prints the summary line.
// Returns 0 when frames arrived, 1 when none did.
int RecordStream(const HostOptions& options);

}  // namespace strandline::host
