# The speech window.
lw_sources(
  speech.cc
)
lw_tests(
  speech_test.cc
)
