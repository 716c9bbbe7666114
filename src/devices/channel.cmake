# Message channel fake (paths relative to src/devices).
lw_sources(
  fake/fake_channel.cc
)
lw_tests(
  fake/fake_channel_test.cc
)
