// Forwarding devices: every operation goes to a target device. A test
// derives from one and overrides a single operation to add a fault on top
// of a fake (the third StartRecord fails, LineDrop takes effect but reports
// an error), leaving the rest of the fake's behaviour in place. The target
// outlives the forwarder, or the forwarder owns it:
//
//   Devices d = fake.devices();
//   d.new_wave = [&] {
//     return std::make_unique<FailingStopRecord>(fake.devices().new_wave());
//   };
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "devices/telephony.h"
#include "devices/wave.h"

namespace lw {

class ForwardingTelephony : public Telephony {
 public:
  explicit ForwardingTelephony(Telephony& target) : target_(target) {}
  // Owns its target (e.g. a fake made through a Devices factory).
  explicit ForwardingTelephony(std::unique_ptr<Telephony> target)
      : owned_(std::move(target)), target_(*owned_) {}

  void SetEvents(TelephonyEvents events) override {
    target_.SetEvents(std::move(events));
  }
  int32_t LineInitialize() override { return target_.LineInitialize(); }
  int32_t GetNumDevices() override { return target_.GetNumDevices(); }
  void SetDeviceIndex(int32_t index) override { target_.SetDeviceIndex(index); }
  int32_t DeviceIndex() override { return target_.DeviceIndex(); }
  int32_t GetDeviceCaps(DeviceInfo& info) override {
    return target_.GetDeviceCaps(info);
  }
  int32_t LineOpen(int32_t privileges, int32_t media_modes) override {
    return target_.LineOpen(privileges, media_modes);
  }
  int32_t LineClose() override { return target_.LineClose(); }
  int32_t LineShutdown() override { return target_.LineShutdown(); }
  bool IsLineOpen() override { return target_.IsLineOpen(); }
  int32_t LineAnswer() override { return target_.LineAnswer(); }
  int32_t LineDrop() override { return target_.LineDrop(); }
  int32_t LineMonitorDigits(bool on) override {
    return target_.LineMonitorDigits(on);
  }
  int32_t MakeCall(const std::string& number, std::string& call_text) override {
    return target_.MakeCall(number, call_text);
  }
  bool DialsSipAddresses() override { return target_.DialsSipAddresses(); }
  int32_t GetDeviceID(int16_t device_class) override {
    return target_.GetDeviceID(device_class);
  }
  bool IsCallActive() override { return target_.IsCallActive(); }
  std::string GetErrorText(int32_t code) override {
    return target_.GetErrorText(code);
  }

 protected:
  Telephony& target() { return target_; }

 private:
  std::unique_ptr<Telephony> owned_;
  Telephony& target_;
};

class ForwardingWave : public Wave {
 public:
  explicit ForwardingWave(Wave& target) : target_(target) {}
  // Owns its target (e.g. a fake made through a Devices factory).
  explicit ForwardingWave(std::unique_ptr<Wave> target)
      : owned_(std::move(target)), target_(*owned_) {}

  void SetEvents(WaveEvents events) override {
    target_.SetEvents(std::move(events));
  }
  void Initialize() override { target_.Initialize(); }
  void Terminate() override { target_.Terminate(); }
  int32_t StartPlayACM(const std::string& file,
                       const WaveFormatRecord& device_format,
                       int32_t wave_out_device, int32_t size_value) override {
    return target_.StartPlayACM(file, device_format, wave_out_device,
                                size_value);
  }
  using Wave::PlayFile;
  int32_t PlayFile(const std::string& file, int32_t local_device,
                   int32_t size_value) override {
    return target_.PlayFile(file, local_device, size_value);
  }
  void StopPlay() override { target_.StopPlay(); }
  bool IsPlaying() override { return target_.IsPlaying(); }
  int32_t StartRecord(int32_t wave_in_device, const std::string& file,
                      const WaveFormatRecord& device_format,
                      const WaveFormatRecord& file_format, int32_t size_value,
                      bool report_levels) override {
    return target_.StartRecord(wave_in_device, file, device_format, file_format,
                               size_value, report_levels);
  }
  int32_t StopRecord() override { return target_.StopRecord(); }
  bool IsRecording() override { return target_.IsRecording(); }
  int32_t StartMonitor(const WaveFormatRecord& device_format,
                       int32_t local_device) override {
    return target_.StartMonitor(device_format, local_device);
  }
  void StopMonitor() override { target_.StopMonitor(); }
  bool IsMonitoring() override { return target_.IsMonitoring(); }
  std::string GetPlayErrorText(int32_t code) override {
    return target_.GetPlayErrorText(code);
  }
  std::string GetRecordErrorText(int32_t code) override {
    return target_.GetRecordErrorText(code);
  }
  int32_t GetFileInfo(const std::string& file, WaveFileInfo& info) override {
    return target_.GetFileInfo(file, info);
  }
  int32_t RepairFile(const std::string& file) override {
    return target_.RepairFile(file);
  }
  std::string SecondsToText(int32_t seconds) override {
    return target_.SecondsToText(seconds);
  }
  int32_t GetWaveDeviceCount() override { return target_.GetWaveDeviceCount(); }
  std::string GetDeviceCaps(int32_t index) override {
    return target_.GetDeviceCaps(index);
  }
  void SetDetectSilence(bool on) override { target_.SetDetectSilence(on); }
  bool DetectSilence() override { return target_.DetectSilence(); }
  void SetCutSilence(bool on) override { target_.SetCutSilence(on); }
  bool CutSilence() override { return target_.CutSilence(); }
  void SetSilenceLevel(int32_t level) override {
    target_.SetSilenceLevel(level);
  }
  int32_t SilenceLevel() override { return target_.SilenceLevel(); }
  void SetFreqDetect(bool on) override { target_.SetFreqDetect(on); }
  bool FreqDetect() override { return target_.FreqDetect(); }

 protected:
  Wave& target() { return target_; }

 private:
  std::unique_ptr<Wave> owned_;
  Wave& target_;
};

}  // namespace lw
