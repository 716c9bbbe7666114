# Needs the SIP line, which a machine without libre leaves out.
if(LW_WITH_SIP)
  lw_bench(bench_sip ${CMAKE_CURRENT_SOURCE_DIR}/sip_bench.cc)
endif()
