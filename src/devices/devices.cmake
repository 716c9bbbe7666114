# Device interfaces and their fakes (paths relative to src/devices).
lw_sources(
  wave.cc
  fake/fake_devices.cc
  fake/fake_serial_port.cc
  fake/fake_voice.cc
  fake/fake_wave.cc
)
lw_tests(
  wave_test.cc
)
