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
// - Sends never block. Each receiving party has a socket of our own connected
//   to it and a queue on the loop. The kernel keeps only about ten datagrams
//   per receiving socket (net.unix.max_dgram_qlen); what does not fit waits in
//   the party's queue and goes out, in order, as soon as the party has read
//   (the connected socket turns writable). A party that reads at all gets
//   every message, in order, and a slow party never holds up the others.
// - A party loses messages only when it is gone (its socket refuses or its
//   file was removed) with messages waiting for it, when it bound while the
//   process had no descriptor to spare for it, or when it has taken
//   nothing for `stall_limit` while messages wait, or has fallen
//   `max_queued_messages` / `max_queued_bytes` behind. Its queue is then
//   dropped and one note says so; while it still takes nothing, later
//   messages for it are dropped without another note. The first message it
//   takes again ends that episode.
// - Descriptors: a send goes to the known parties before the folder is
//   listed, so the sockets of parties that have gone are closed when the
//   kernel refuses a send to them, even when the process has no descriptor
//   left for the listing. While the listing or a new party's socket cannot
//   be had, the folder is listed again every kSurveyRetry, and only then.
// - Messages still queued when this end is destroyed (the process stopping)
//   get a last chance of kCloseFlushBudget in all, so the last "Tapi_Idle" and
//   line status of a stop reach a party that is reading; what is left then,
//   and what is queued when this end is rebound, is dropped.
// - Every message is delivered whole to the MessageArrived handler on the
//   io_context's thread, one at a time, in arrival order. A handler may send,
//   rebind or destroy this end; an exception from it drops that message.
#pragma once

#include <asio/io_context.hpp>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "devices/channel.h"

namespace lw {

// How far one receiving party may fall behind before it loses messages.
struct UnixChannelLimits {
  // Messages are rarely over 100 bytes; the largest burst the process makes
  // is one reply per command received, and a desktop application that sends
  // a few thousand commands at once still fits several times over. The
  // bytes bound keeps 64 KiB texts (mail requests) to 16 MiB per party.
  size_t max_queued_messages = 10000;
  size_t max_queued_bytes = size_t{16} * 1024 * 1024;
  // Long enough for a desktop application that is busy, swapped out or
  // briefly stopped to catch up; short enough that a hung or stopped party
  // does not hold memory for long, and that `lwdctl send` gives up on it in
  // a time a person waits for.
  std::chrono::milliseconds stall_limit{10000};
};

class UnixChannel : public MessageChannel {
 public:
  static constexpr size_t kMaxMessageBytes = size_t{64} * 1024;
  // Short enough not to hold up a stop that the service manager times;
  // long enough for a reader that is busy for a moment.
  static constexpr std::chrono::milliseconds kCloseFlushBudget{1000};
  // How often the folder is listed again while the process has no
  // descriptor to spare for the listing or for a new party's socket.
  static constexpr std::chrono::milliseconds kSurveyRetry{1000};
  using NoteHandler = std::function<void(const std::string& note)>;

  // `io` runs the receive and send events and must outlive this end.
  // `runtime_dir` is the runtime folder (the entry passes
  // ResolveRuntimeDir()).
  UnixChannel(asio::io_context& io, std::string runtime_dir,
              UnixChannelLimits limits = UnixChannelLimits());
  ~UnixChannel() override;
  UnixChannel(const UnixChannel&) = delete;
  UnixChannel& operator=(const UnixChannel&) = delete;

  // Binds to `channel`. When already bound to it, only checks that the
  // socket file is still there (and binds afresh if the runtime folder was
  // cleared). Another number unbinds first; on failure the end stays unbound.
  bool OpenChannel(int32_t channel) override;
  void SendMessage(const std::string& text) override;
  void SetMessageArrived(Handler handler) override;

  // Called on the loop thread with one line of text whenever a party loses
  // messages (once per episode, see above). It must not rebind or destroy
  // this end.
  void SetNoteHandler(NoteHandler handler);

  bool bound() const { return binding_ != nullptr; }
  // This end's socket file; empty while unbound.
  std::string socket_path() const;
  // Messages waiting in the parties' queues, all parties together.
  size_t pending() const;
  // Messages lost for some party since this end was made (each message
  // counted once per party that lost it).
  uint64_t dropped() const { return dropped_; }

  // The folder holding the socket files of `channel`.
  static std::string ChannelFolder(const std::string& runtime_dir,
                                   int32_t channel);

 private:
  struct Binding;
  struct Party;
  std::shared_ptr<Binding> Bind(int32_t channel);
  static void Survey(const std::shared_ptr<Binding>& b,
                     const std::shared_ptr<const std::string>& text);
  static void ArmSurvey(const std::shared_ptr<Binding>& b);
  static void StartWait(const std::shared_ptr<Binding>& binding);
  static void OnReadable(const std::weak_ptr<Binding>& weak);
  static bool IsCurrent(const Binding& b, const std::shared_ptr<Party>& p);
  static std::shared_ptr<Party> Connect(Binding& b, const char* name,
                                        uint64_t ino);
  static void Deliver(const std::shared_ptr<Binding>& b,
                      const std::shared_ptr<Party>& p,
                      const std::shared_ptr<const std::string>& text);
  static void Flush(const std::shared_ptr<Binding>& b,
                    const std::shared_ptr<Party>& p);
  static void WaitWritable(const std::shared_ptr<Binding>& b,
                           const std::shared_ptr<Party>& p);
  static void ArmStall(const std::shared_ptr<Binding>& b,
                       const std::shared_ptr<Party>& p);
  static void GiveUp(const std::shared_ptr<Binding>& b, Party& p,
                     const std::string& why);
  static void Gone(const std::shared_ptr<Binding>& b,
                   const std::shared_ptr<Party>& p, bool remove_file);
  static void Note(const Binding& b, const Party& p, const std::string& what);
  static void FlushBeforeClose(Binding& b);

  asio::io_context& io_;
  const std::string runtime_dir_;
  const UnixChannelLimits limits_;
  Handler handler_;
  NoteHandler note_handler_;
  uint64_t dropped_ = 0;
  std::shared_ptr<Binding> binding_;
};

}  // namespace lw
