// Reading the line options into the line controller. The option catalogue
// (sections, conversions, journal lines of failed conversions) lives with
// the settings; these are the line controller's entry points to it.
#include "line/line_controller.h"

namespace lw {

LineOptionHooks LineController::OptionHooks() {
  LineOptionHooks hooks;
  // The first reading runs while loading, before the line voice exists.
  hooks.SetLineVoice = [this](int32_t voice) {
    if (s_.LineVoice) s_.LineVoice->SetVoice(voice);
  };
  hooks.SetLineRate = [this](int16_t rate) {
    if (s_.LineVoice) s_.LineVoice->SetRate(rate);
  };
  hooks.TTSSetVoice = [this](int32_t voice) {
    if (s_.speech != nullptr) s_.speech->TTSSetVoice(voice);
  };
  hooks.SetRate = [this](int16_t rate) {
    if (s_.speech != nullptr) s_.speech->SetRate(rate);
  };
  return hooks;
}

void LineController::LoadCallOptions() {
  lw::LoadCallOptions(s_.Reg, s_.journal, s_.Options, s_.process.Options,
                      OptionHooks());
}

void LineController::GetOptions() {
  lw::GetOptions(s_.Reg, s_.journal, s_.Options, OptionHooks());
}

void LineController::LoadTTSOptions() {
  lw::LoadTTSOptions(s_.Reg, OptionHooks());
}

}  // namespace lw
