#include "drivers/simline/simline_backend.h"

#include <string>
#include <vector>

#include "drivers/simline/sim_modem_pty.h"
#include "drivers/simline/simulated_line.h"

namespace lw {
namespace {

class SimLineBackend : public LineBackend {
 public:
  explicit SimLineBackend(const LineBackendContext& context)
      : line_(context.clock, context.audio),
        modem_(context.io),
        report_(context.report) {
    line_.Listen(context.io, context.runtime_dir);
    modem_.Attach(line_, context.serial_owners);
    if (!modem_.tty().empty())
      context.serial_names.Set(SimulatedLine::kModemPort, modem_.tty());
  }

  std::vector<LineDevice*> Lines() override { return line_.Lines(); }
  int32_t Initialize() override {
    if (report_) {
      if (!line_.listening()) report_(line_.ListenStatus());
      if (modem_.error())
        report_("The simulated line has no modem: " + modem_.error().message());
      report_ = nullptr;  // once
    }
    return line_.Initialize();
  }
  int32_t Shutdown() override { return line_.Shutdown(); }
  std::string ErrorText(int32_t code) override { return line_.ErrorText(code); }

 private:
  SimulatedLine line_;
  SimModemPty modem_;
  std::function<void(const std::string&)> report_;
};

}  // namespace

std::unique_ptr<LineBackend> NewSimLineBackend(
    const LineBackendContext& context) {
  return std::make_unique<SimLineBackend>(context);
}

}  // namespace lw
