#pragma once

#include <string>

// Where the running program's own file lies.

namespace desktop {

// The folder of the running executable with a trailing '/', worked out once and kept for the life
// of the process; empty if the system cannot say (files are then looked for relative to the
// current folder).
const std::string& programDirectory();

} // namespace desktop
