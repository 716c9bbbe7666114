#include <cstdio>

#include "commands.h"

namespace lwdctl {
int RunPhone(const Args&) {
  std::fputs("lwdctl phone: not built yet\n", stderr);
  return 2;
}
}  // namespace lwdctl
