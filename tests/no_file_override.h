// While alive, the calling thread loses root's rights to ignore file modes
// (CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER leave its effective
// set; they stay permitted and come back at the end), so tests of read-only
// files and folders mean the same for root as for any other user.
#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstring>

namespace lw::testing {

class NoFileOverride {
 public:
  NoFileOverride() {
    if (geteuid() != 0) return;  // nothing to give up
    if (syscall(SYS_capget, &header_, saved_) != 0) return;
    __user_cap_data_struct reduced[2];
    std::memcpy(reduced, saved_, sizeof reduced);
    reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) |
                              (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
    dropped_ = syscall(SYS_capset, &header_, reduced) == 0;
  }
  ~NoFileOverride() {
    if (dropped_) syscall(SYS_capset, &header_, saved_);
  }
  NoFileOverride(const NoFileOverride&) = delete;
  NoFileOverride& operator=(const NoFileOverride&) = delete;

  // True when file modes now hold for this thread.
  bool holds() const { return geteuid() != 0 || dropped_; }

 private:
  __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct saved_[2]{};
  bool dropped_ = false;
};

}  // namespace lw::testing
