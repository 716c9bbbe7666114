#include <cstdio>

#include "commands.h"

namespace lwdctl {
int RunSend(const Args&) {
  std::fputs("lwdctl send: not built yet\n", stderr);
  return 2;
}
int RunListen(const Args&) {
  std::fputs("lwdctl listen: not built yet\n", stderr);
  return 2;
}
}  // namespace lwdctl
