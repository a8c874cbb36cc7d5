#pragma once

#include <string>
#include <string_view>

// Reading one value from an initialisation file ("[Section]" headers and "key=value" lines), as
// the system's profile functions read it: section and key names match without regard to letter
// case, blanks around names and values are dropped, one pair of quotes around a value is removed,
// and a missing file, section or key gives the fallback. The first matching line wins. A key is
// everything before the first '=' (so keys may hold ':' and ';'); a value is the rest of its line,
// comment characters included.

namespace desktop {

std::string readIniString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view fallback = {});

} // namespace desktop
