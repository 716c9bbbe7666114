#include "devices/line_audio.h"

#include <algorithm>
#include <limits>

namespace lw {

LineAudioEndpoint::LineAudioEndpoint(LineAudioHub& hub)
    : hub_(hub), wave_in_(hub.next_), wave_out_(hub.next_ + 1) {
  hub_.next_ += 2;
  hub_.endpoints_[wave_in_] = this;
  hub_.endpoints_[wave_out_] = this;
}

LineAudioEndpoint::~LineAudioEndpoint() {
  hub_.endpoints_.erase(wave_in_);
  hub_.endpoints_.erase(wave_out_);
  changed_ = nullptr;
  const std::vector<LinePlaySource*> gone = std::move(sources_);
  sources_.clear();
  for (LinePlaySource* source : gone) source->LineGone();
}

void LineAudioEndpoint::AddPlaySource(LinePlaySource* source) {
  if (std::find(sources_.begin(), sources_.end(), source) != sources_.end())
    return;
  sources_.push_back(source);
  Changed();
}

void LineAudioEndpoint::RemovePlaySource(LinePlaySource* source) {
  auto it = std::find(sources_.begin(), sources_.end(), source);
  if (it == sources_.end()) return;
  sources_.erase(it);
  Changed();
}

void LineAudioEndpoint::SetRecordSink(Sink sink) {
  sink_ = std::move(sink);
  Changed();
}

bool LineAudioEndpoint::PullBlock(std::span<int16_t> block) {
  std::fill(block.begin(), block.end(), int16_t{0});
  bool any = false;
  bool ended = false;
  for (size_t i = 0; i < sources_.size();) {
    size_t n = 0;
    if (!any) {
      n = std::min(sources_[i]->Pull(block), block.size());
      std::fill(block.begin() + static_cast<ptrdiff_t>(n), block.end(),
                int16_t{0});
    } else {
      // Two sounds at once (a voice over a played file): added, clipped.
      mix_.assign(block.size(), 0);
      n = std::min(sources_[i]->Pull(mix_), block.size());
      for (size_t k = 0; k < n; ++k)
        block[k] = static_cast<int16_t>(std::clamp<int32_t>(
            int32_t{block[k]} + mix_[k], std::numeric_limits<int16_t>::min(),
            std::numeric_limits<int16_t>::max()));
    }
    if (n == 0) {
      sources_.erase(sources_.begin() + static_cast<ptrdiff_t>(i));
      ended = true;
      continue;
    }
    any = true;
    ++i;
  }
  if (ended) Changed();
  return any;
}

void LineAudioEndpoint::Received(std::span<const int16_t> samples) {
  // The sink may detach itself.
  if (!sink_) return;
  const Sink sink = sink_;
  sink(samples);
}

}  // namespace lw
