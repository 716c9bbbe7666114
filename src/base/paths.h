// Data paths of the system are written as AppPath + a sub-path beginning with
// a backslash ("\Data\Log\2005\03\15\"). They stay in that form wherever they
// are stored, sent or shown; these helpers turn them into native paths at the
// file-system boundary.
#pragma once

#include <string>
#include <string_view>

namespace lw {

// AppPath + sub, with every backslash of `sub` turned into "/".
std::string NativePath(std::string_view app_path, std::string_view sub);

// Like NativePath, but each component of `sub` is matched against the
// directory entries without regard to case; components that do not exist are
// kept as given. For lookups where the system ignores case.
std::string NativePathNoCase(std::string_view app_path, std::string_view sub);

}  // namespace lw
