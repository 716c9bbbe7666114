// linewarden-proc: the background process.
#include <cstdio>

int main() {
  std::fputs("linewarden-proc: not yet able to run a line\n", stderr);
  return 1;
}
