// The simulated line as the running process has it: listening for far ends
// at `<runtime>/simline.sock`, its modem on a pseudo-terminal named as serial
// port SimulatedLine::kModemPort. Where it listens, or why no far end or
// modem can reach it, is reported when it is first initialised (the journal
// is on by then).
#pragma once

#include <memory>

#include "devices/line_backend_context.h"

namespace lw {

std::unique_ptr<LineBackend> NewSimLineBackend(
    const LineBackendContext& context);

}  // namespace lw
