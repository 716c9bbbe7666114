#include "drivers/espeak/espeak_engine.h"

#include <espeak-ng/espeak_ng.h>
#include <espeak-ng/speak_lib.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "base/text.h"

namespace lw {
namespace {

// The library's default voice ("en"), listed first so that voice 0 of a
// fresh installation speaks English.
constexpr const char* kDefaultIdentifier = "gmw/en";

struct SynthJob {
  const std::function<bool()>* cancelled;
  std::vector<int16_t>* out;
  bool was_cancelled = false;
};

int OnSynth(short* wav, int count, espeak_EVENT* events) {
  auto* job =
      events != nullptr ? static_cast<SynthJob*>(events->user_data) : nullptr;
  if (job == nullptr) return 0;
  if (*job->cancelled && (*job->cancelled)()) {
    job->was_cancelled = true;
    return 1;  // abort the synthesis
  }
  if (wav != nullptr && count > 0)
    job->out->insert(job->out->end(), wav, wav + count);
  return 0;
}

}  // namespace

int EspeakWordsPerMinute(int32_t rate) {
  rate = std::clamp<int32_t>(rate, -10, 10);
  double span = rate < 0 ? kEspeakWpmNormal - kEspeakWpmMin
                         : kEspeakWpmMax - kEspeakWpmNormal;
  return static_cast<int>(std::lround(kEspeakWpmNormal + span * rate / 10.0));
}

EspeakEngine& EspeakEngine::Instance() {
  static EspeakEngine* engine =
      new EspeakEngine;  // lives as long as the process
  return *engine;
}

bool EspeakEngine::Start(const std::string& data_path) {
  std::lock_guard lock(mu_);
  if (tried_) return started_;
  tried_ = true;
  espeak_ng_InitializePath(data_path.empty() ? nullptr : data_path.c_str());
  espeak_ng_ERROR_CONTEXT context = nullptr;
  espeak_ng_STATUS status = espeak_ng_Initialize(&context);
  espeak_ng_ClearErrorContext(&context);
  if (status != ENS_OK) return false;
  if (espeak_ng_InitializeOutput(ENOUTPUT_MODE_SYNCHRONOUS, 0, nullptr) !=
      ENS_OK) {
    return false;
  }
  espeak_SetSynthCallback(OnSynth);
  sample_rate_ = espeak_ng_GetSampleRate();
  if (sample_rate_ <= 0) return false;

  const espeak_VOICE** list = espeak_ListVoices(nullptr);
  std::vector<const espeak_VOICE*> ordered;
  for (int i = 0; list != nullptr && list[i] != nullptr; ++i) {
    if (list[i]->name == nullptr || list[i]->identifier == nullptr) continue;
    if (std::string(list[i]->identifier) == kDefaultIdentifier) {
      ordered.insert(ordered.begin(), list[i]);
    } else {
      ordered.push_back(list[i]);
    }
  }
  // Descriptions become value names, which compare without regard to case:
  // a repeated name gets its identifier added.
  std::set<std::string> seen;
  for (const espeak_VOICE* v : ordered) {
    std::string name(Trim(v->name, " "));
    std::string key = name;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    if (name.empty() || !seen.insert(key).second) {
      name = (name.empty() ? std::string() : name + " ") + "(" + v->identifier +
             ")";
    }
    voices_.push_back({name, v->identifier});
  }
  started_ = true;
  return true;
}

std::vector<EspeakVoiceEntry> EspeakEngine::Voices() {
  std::lock_guard lock(mu_);
  return voices_;
}

int EspeakEngine::SampleRate() {
  std::lock_guard lock(mu_);
  return sample_rate_;
}

int EspeakEngine::Synthesize(const EspeakRequest& request,
                             const std::function<bool()>& cancelled,
                             std::vector<int16_t>* out) {
  std::lock_guard lock(mu_);
  out->clear();
  if (!started_) return kEspeakSynthNotStarted;
  if (request.identifier != current_voice_) {
    if (espeak_SetVoiceByName(request.identifier.c_str()) != EE_OK) {
      current_voice_.clear();
      return kEspeakSynthNoVoice;
    }
    current_voice_ = request.identifier;
  }
  espeak_SetParameter(espeakRATE, request.words_per_minute, 0);
  SynthJob job{&cancelled, out};
  unsigned flags = espeakCHARS_AUTO | (request.markup ? espeakSSML : 0);
  espeak_ERROR result =
      espeak_Synth(request.text.c_str(), request.text.size() + 1, 0,
                   POS_CHARACTER, 0, flags, nullptr, &job);
  if (job.was_cancelled) {
    espeak_Cancel();  // leaves the synthesiser clean for the next text
    out->clear();
    return kEspeakSynthCancelled;
  }
  return result == EE_OK ? kEspeakSynthOk : kEspeakSynthFailed;
}

}  // namespace lw
