// Message channels over Unix-domain datagram sockets.
//
// Layout: every channel number has a folder under the runtime folder
// (`<runtime>/ch107`), and every bound party has one socket file in it with a
// name of its own ("p<pid>-<n>"). A message is one datagram, sent to every
// other socket file of the folder; the desktop application and `lwdctl` use
// the same layout.
//
// Folders: the runtime folder is created (mode 0700) when missing, but only
// its last component: a missing parent means a wrong LINEWARDEN_RUNTIME or a
// user session that is gone, and creating it would hide that. Channel folders
// are created 0700 as needed. When a folder cannot be created or used,
// OpenChannel answers false and the end stays unbound, so sends are dropped.
//
// Limits and delivery:
// - Messages up to kMaxMessageBytes (64 KiB) of any bytes; a longer text is
//   not sent, a longer datagram from elsewhere is discarded on receipt.
// - Sends never block. A party whose socket refuses (its process is gone) has
//   its socket file removed; a party whose receive queue is full (the kernel
//   keeps about ten datagrams per socket, net.unix.max_dgram_qlen) loses that
//   message, the others still get it. A party that falls that far behind
//   therefore loses messages; one that keeps reading gets them all, in order.
// - Every message is delivered whole to the MessageArrived handler on the
//   io_context's thread, one at a time, in arrival order. A handler may send,
//   rebind or destroy this end; an exception from it drops that message.
#pragma once

#include <asio/io_context.hpp>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "devices/channel.h"

namespace lw {

class UnixChannel : public MessageChannel {
 public:
  static constexpr size_t kMaxMessageBytes = size_t{64} * 1024;

  // `io` runs the receive events and must outlive this end. `runtime_dir` is
  // the runtime folder (the entry passes ResolveRuntimeDir()).
  UnixChannel(asio::io_context& io, std::string runtime_dir);
  ~UnixChannel() override;
  UnixChannel(const UnixChannel&) = delete;
  UnixChannel& operator=(const UnixChannel&) = delete;

  // Binds to `channel`. When already bound to it, only checks that the
  // socket file is still there (and binds afresh if the runtime folder was
  // cleared). Another number unbinds first; on failure the end stays unbound.
  bool OpenChannel(int32_t channel) override;
  void SendMessage(const std::string& text) override;
  void SetMessageArrived(Handler handler) override;

  bool bound() const { return binding_ != nullptr; }
  // This end's socket file; empty while unbound.
  std::string socket_path() const;

  // The folder holding the socket files of `channel`.
  static std::string ChannelFolder(const std::string& runtime_dir,
                                   int32_t channel);

 private:
  struct Binding;
  std::shared_ptr<Binding> Bind(int32_t channel);
  static void StartWait(const std::shared_ptr<Binding>& binding);
  static void OnReadable(const std::weak_ptr<Binding>& weak);

  asio::io_context& io_;
  const std::string runtime_dir_;
  Handler handler_;
  std::shared_ptr<Binding> binding_;
};

}  // namespace lw
