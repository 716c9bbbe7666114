// The one error rule of the controllers: a routine that fails unexpectedly
// writes a system journal line (the error's description, code 0, the
// routine's fixed tag as source) and the caller goes on. No exception leaves
// an event handler.
#pragma once

#include <exception>
#include <utility>

namespace lw {

// `journal` is the system journal (anything with LogSys(text, code, source)).
template <typename Journal, typename Body>
void Trapped(Journal& journal, const char* tag, Body&& body) noexcept {
  try {
    std::forward<Body>(body)();
  } catch (const std::exception& e) {
    journal.LogSys(e.what(), 0, tag);
  } catch (...) {
    journal.LogSys("Unknown error", 0, tag);
  }
}

}  // namespace lw
