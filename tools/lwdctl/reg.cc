#include <cstdio>

#include "commands.h"

namespace lwdctl {
int RunReg(const Args&) {
  std::fputs("lwdctl reg: not built yet\n", stderr);
  return 2;
}
}  // namespace lwdctl
