// File contents for the tests of the upgrade session, beside the kit's folders and files.
#pragma once

#include "tests/common/Files.h"
#include "tests/common/TempDir.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// `length` bytes of a repeating pattern that begins with `prefix`, so misplaced chunks show.
std::vector<uint8_t> PatternBytes(std::string_view prefix, size_t length);
