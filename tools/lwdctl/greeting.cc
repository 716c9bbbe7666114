// lwdctl greeting: puts the answering machine's greeting (and the beep after
// it) into the home, in the line's format: 8 kHz 16-bit mono wave files.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

#include "base/paths.h"
#include "base/system.h"
#include "commands.h"
#include "devices/line_audio.h"
#include "drivers/espeak/espeak_engine.h"
#include "drivers/sqlite/sqlite_settings_store.h"
#include "phone_audio.h"
#include "service/paths.h"
#include "settings/registry_routines.h"

namespace lwdctl {
namespace {

constexpr const char* kUsage =
    "usage: lwdctl greeting say TEXT      speak TEXT into the greeting\n"
    "       lwdctl greeting set FILE      take the greeting from a sound file\n"
    "       lwdctl greeting beep          write the beep played after it\n"
    "       lwdctl greeting path          print the greeting's file\n"
    "The greeting is Greets/NAME.wav in the home, NAME being "
    "\"CmbGreetsMessages\"\n"
    "under Answer\\TabAnsweringMachine (set to \"Greeting\" when empty); the "
    "beep\n"
    "is Beep.wav. FILE may be any sound file (WAV, FLAC, OGG, ...), of any "
    "rate\n"
    "and channels: it is converted to the line's 8 kHz 16-bit mono.\n";

constexpr const char* kAnswerSection = "Answer\\TabAnsweringMachine";
constexpr const char* kGreetingName = "CmbGreetsMessages";

// The greeting's file, naming "Greeting" in the settings when they name
// none (only when `name_it`: a read never writes the store).
std::string GreetingPath(bool name_it) {
  const std::string home = lw::ResolveAppPath();
  lw::SqliteSettingsStore store(lw::ResolveRegistryPath(home),
                                {.read_only = !name_it});
  lw::RegistryRoutines reg(store);
  reg.SetSubkey(kAnswerSection);
  std::string name = lw::RegValueText(reg.GetRegistryValue(kGreetingName));
  if (name.empty()) {
    name = "Greeting";
    if (name_it) {
      reg.CreateKey();
      reg.SetRegistryValue(kGreetingName, name, lw::REG_SZ);
    }
  }
  return lw::NativePath(home, "\\Greets\\" + name + ".wav");
}

// Writes the file beside its place and moves it there whole; run as root in
// the service's home, it gets the folder's owner so the service can read it.
int Put(const std::string& path, const std::vector<int16_t>& samples) {
  const std::string folder = path.substr(0, path.rfind('/'));
  ::mkdir(folder.c_str(), 0700);
  const std::string temp = path + ".new";
  std::string error;
  if (!WriteLineSound(temp, samples, &error)) {
    ::unlink(temp.c_str());
    std::fprintf(stderr, "lwdctl greeting: %s\n", error.c_str());
    return 1;
  }
  struct stat st {};
  if (geteuid() == 0 && ::stat(folder.c_str(), &st) == 0 &&
      ::chown(temp.c_str(), st.st_uid, st.st_gid) != 0) {
    std::fprintf(stderr,
                 "lwdctl greeting: cannot give %s to its folder's owner\n",
                 temp.c_str());
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    std::fprintf(stderr, "lwdctl greeting: %s: %s\n", path.c_str(),
                 lw::ErrnoText(errno).c_str());
    ::unlink(temp.c_str());
    return 1;
  }
  std::printf("%s\n", path.c_str());
  return 0;
}

int Say(const std::string& text) {
  lw::EspeakEngine& engine = lw::EspeakEngine::Instance();
  std::vector<lw::EspeakVoiceEntry> voices;
  if (engine.Start("")) voices = engine.Voices();
  if (voices.empty()) {
    std::fputs(
        "lwdctl greeting: no speech voice (is espeak-ng-data installed?)\n",
        stderr);
    return 1;
  }
  lw::EspeakRequest request;
  request.identifier = voices[0].identifier;
  request.text = text;
  std::vector<int16_t> spoken;
  if (engine.Synthesize(request, nullptr, &spoken) != lw::kEspeakSynthOk) {
    std::fputs("lwdctl greeting: the text cannot be spoken\n", stderr);
    return 1;
  }
  std::vector<float> sound(spoken.begin(), spoken.end());
  for (float& v : sound) v /= 32768.0f;
  std::vector<int16_t> samples;
  std::string error;
  if (!ToLineSamples(sound, engine.SampleRate(), &samples, &error)) {
    std::fprintf(stderr, "lwdctl greeting: %s\n", error.c_str());
    return 1;
  }
  return Put(GreetingPath(true), samples);
}

int Set(const std::string& file) {
  std::vector<int16_t> samples;
  std::string error;
  if (!ReadLineSound(file, &samples, &error)) {
    std::fprintf(stderr, "lwdctl greeting: %s\n", error.c_str());
    return 1;
  }
  return Put(GreetingPath(true), samples);
}

// A 1 kHz tone of 0.4 s at half volume.
int Beep() {
  std::vector<int16_t> samples(lw::kLineSampleRate * 2 / 5);
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(std::lrint(
        16383 * std::sin(2 * std::numbers::pi * 1000.0 *
                         static_cast<double>(i) / lw::kLineSampleRate)));
  }
  return Put(lw::NativePath(lw::ResolveAppPath(), "\\Beep.wav"), samples);
}

}  // namespace

int RunGreeting(const Args& args) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::fputs(kUsage, args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  const std::string& sub = args[0];
  if (sub == "say" && args.size() == 2) return Say(args[1]);
  if (sub == "set" && args.size() == 2) return Set(args[1]);
  if (sub == "beep" && args.size() == 1) return Beep();
  if (sub == "path" && args.size() == 1) {
    std::printf("%s\n", GreetingPath(false).c_str());
    return 0;
  }
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace lwdctl
