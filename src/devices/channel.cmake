# Message channel fake (paths relative to src/devices).
lw_sources(
  fake/fake_channel.cc
)
