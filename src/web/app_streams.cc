#include "web/app_streams.h"

#include <sndfile.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <array>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>
#include <chrono>
#include <deque>
#include <list>
#include <set>
#include <unordered_map>
#include <vector>

#include "base/paths.h"
#include "base/wave_file_header.h"
#include "callstore/call_store.h"
#include "web/calls_api.h"
#include "web/request.h"

namespace lw {
namespace {

using asio::ip::tcp;

constexpr auto kIdleLimit = std::chrono::seconds(30);
// Changes come in bursts (a record appended, then the list replaced): they
// are looked at together once this much time passed after the first.
constexpr auto kSettle = std::chrono::milliseconds(1);
constexpr auto kLookInterval = std::chrono::seconds(1);
// Every this many looks an event stream gets a comment line, so a browser
// that went away is noticed and its stream closed.
constexpr int kLooksPerHeartbeat = 15;
// Events a stream may have waiting before its client counts as gone.
constexpr size_t kMaxQueued = 256;
constexpr size_t kFramesPerBlock = 4096;

// A connection this module took over: its socket and a timer that closes it
// when a write has not finished for kIdleLimit. Handlers hold the object.
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(tcp::socket socket, asio::io_context& io)
      : socket_(std::move(socket)), idle_(io) {}
  virtual ~Connection() = default;

  virtual void Close() noexcept {
    closed_ = true;
    asio::error_code ignored;
    socket_.close(ignored);
    try {
      idle_.cancel();
    } catch (...) {
      // The timer's handler finds the connection closed.
    }
  }
  bool closed() const { return closed_; }

 protected:
  // Writes `text` (kept alive by the caller until `done` runs); closes the
  // connection on an error or when the client takes nothing for too long.
  template <typename Done>
  void Write(const std::string& text, Done done) {
    idle_.expires_after(kIdleLimit);
    idle_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
      if (!ec) self->Close();
    });
    asio::async_write(
        socket_, asio::buffer(text),
        [self = shared_from_this(), done](const asio::error_code& ec, size_t) {
          if (self->closed_) return;
          if (ec) {
            self->Close();
            return;
          }
          self->idle_.cancel();
          done();
        });
  }

  // Reads and drops what the client sends. A client that closes its
  // sending side may still wait for the answer: the connection is closed
  // then only with `close_on_eof_`.
  void Drain() {
    socket_.async_read_some(
        asio::buffer(sink_),
        [self = shared_from_this()](const asio::error_code& ec, size_t) {
          if (self->closed_) return;
          if (ec) {
            if (ec != asio::error::eof || self->close_on_eof_) self->Close();
            return;
          }
          self->Drain();
        });
  }

  tcp::socket socket_;
  asio::steady_timer idle_;
  bool closed_ = false;
  bool close_on_eof_ = false;

 private:
  std::array<char, 512> sink_{};
};

class EventStream : public Connection {
 public:
  using Connection::Connection;

  void Start() {
    close_on_eof_ = true;
    Send(
        "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream; charset=utf-8\r\n"
        "Cache-Control: no-store\r\nConnection: close\r\n\r\n"
        "retry: 1000\n\n");
    Drain();
  }

  void Send(std::string text) {
    if (closed_) return;
    if (queue_.size() >= kMaxQueued) {
      Close();
      return;
    }
    queue_.push_back(std::move(text));
    if (queue_.size() == 1) WriteFront();
  }

 private:
  void WriteFront() {
    Write(queue_.front(), [this] {
      queue_.pop_front();
      if (!queue_.empty()) WriteFront();
    });
  }

  std::deque<std::string> queue_;
};

// "RIFF…WAVEfmt …data…" of 16-bit PCM: the head of the answer's body.
std::string PcmWaveHead(int rate, int channels, uint32_t data_bytes) {
  std::string head;
  const auto put = [&head](uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
      head += static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  const auto r = static_cast<uint32_t>(rate);
  const auto c = static_cast<uint32_t>(channels);
  head += "RIFF";
  put(36 + data_bytes, 4);
  head += "WAVEfmt ";
  put(16, 4);
  put(1, 2);  // PCM
  put(c, 2);
  put(r, 4);
  put(r * c * 2, 4);  // bytes per second
  put(c * 2, 2);      // block alignment
  put(16, 2);         // bits per sample
  head += "data";
  put(data_bytes, 4);
  return head;
}

}  // namespace

std::string RecordingHead(std::string_view request, uint64_t size,
                          bool keep_alive, uint64_t& first, uint64_t& end) {
  const std::string connection = keep_alive
                                     ? "\r\nConnection: keep-alive\r\n\r\n"
                                     : "\r\nConnection: close\r\n\r\n";
  const ByteRange range = ByteRangeOf(request, size);
  first = 0;
  end = 0;
  if (range.kind == ByteRange::kUnsatisfiable)
    return "HTTP/1.1 416 Range Not Satisfiable\r\nContent-Range: bytes */" +
           std::to_string(size) + "\r\nContent-Length: 0" + connection;
  const bool part = range.kind == ByteRange::kPart;
  first = part ? range.first : 0;
  end = part ? range.last + 1 : size;
  std::string head =
      part ? "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " +
                 std::to_string(first) + "-" + std::to_string(end - 1) + "/" +
                 std::to_string(size) + "\r\n"
           : "HTTP/1.1 200 OK\r\n";
  head +=
      "Content-Type: audio/wav\r\nAccept-Ranges: bytes\r\n"
      "Content-Length: " +
      std::to_string(end - first) + "\r\nCache-Control: no-store" + connection;
  return head;
}

bool SentAsStored(int fd, uint64_t size) {
  // A 44-byte head: "RIFF", "WAVE", "fmt " of 16 bytes, "data".
  constexpr uint64_t kHead = 44;
  std::array<char, kHead> bytes{};
  if (size < kHead || size > uint64_t{0xFFFFFFFF} ||
      ::pread(fd, bytes.data(), kHead, 0) != static_cast<ssize_t>(kHead))
    return false;
  const auto field = [&bytes](size_t at, int n) {
    uint32_t value = 0;
    for (int i = n - 1; i >= 0; --i)
      value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    return value;
  };
  const uint32_t channels = field(22, 2);
  const auto data = static_cast<uint32_t>(size - kHead);
  return channels >= 1 && channels <= 8 && data % (2 * channels) == 0 &&
         PcmWaveHead(static_cast<int>(field(24, 4)), static_cast<int>(channels),
                     data) == std::string_view(bytes.data(), kHead);
}

namespace {

class RecordingSend : public Connection {
 public:
  using Connection::Connection;
  ~RecordingSend() override {
    if (file_) sf_close(file_);
    if (fd_ >= 0) ::close(fd_);
  }

  // Takes `fd` (a recording opened below its folder; -1 for none) and
  // answers `request`, whose "Range" may ask for part of the converted file.
  void Start(int fd, const std::string& request) {
    SF_INFO info{};
    fd_ = fd;
    file_ = fd < 0 ? nullptr : sf_open_fd(fd, SFM_READ, &info, SF_FALSE);
    if (!file_ || info.channels < 1 || info.channels > 8 || info.frames < 0) {
      out_ = web::HttpAnswer("404 Not Found", "text/plain", "Not Found\r\n");
      Write(out_, [this] { End(); });
      return;
    }
    frame_bytes_ = uint64_t{2} * static_cast<uint64_t>(info.channels);
    // GSM 6.10 is stored in blocks of two 20 ms frames: the library counts
    // whole blocks, the file's "fact" chunk the samples recorded.
    uint64_t recorded = static_cast<uint64_t>(info.frames);
    if ((info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_GSM610) {
      if (const auto header = ReadWaveFileHeader(fd);
          header && header->fact_samples)
        recorded = std::min<uint64_t>(recorded, *header->fact_samples);
    }
    // A WAV file holds at most 4 GiB; what lies beyond is not sent.
    const uint64_t frames = std::min<uint64_t>(
        recorded, (uint64_t{0xFFFFFFFF} - 36) / frame_bytes_);
    const auto data_bytes = static_cast<uint32_t>(frames * frame_bytes_);
    const std::string head =
        PcmWaveHead(info.samplerate, info.channels, data_bytes);
    const uint64_t size = head.size() + uint64_t{data_bytes};
    uint64_t first = 0;
    uint64_t end = 0;
    out_ = RecordingHead(request, size, false, first, end);
    if (end == first) {
      Write(out_, [this] { End(); });
      return;
    }
    if (first < head.size())
      out_.append(head, first, std::min<uint64_t>(end, head.size()) - first);
    // The samples from the frame that holds the range's first data byte.
    const uint64_t data_first =
        std::max<uint64_t>(first, head.size()) - head.size();
    const uint64_t data_end =
        std::max<uint64_t>(end, head.size()) - head.size();
    bytes_left_ = data_end > data_first ? data_end - data_first : 0;
    skip_ = data_first % frame_bytes_;
    const auto start = static_cast<sf_count_t>(data_first / frame_bytes_);
    // A GSM 6.10 decoder carries its state from frame to frame, so the
    // library's seek gives other samples than reading from the start: that
    // recording is decoded from its start (Pump, a block at a time). A
    // recording that cannot be read there is sent as silence, at the
    // announced length.
    if (bytes_left_ > 0 && start > 0) {
      if ((info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_GSM610)
        skip_frames_ = static_cast<uint64_t>(start);
      else if (sf_seek(file_, start, SEEK_SET) < 0)
        silent_ = true;
    }
    Drain();
    Write(out_, [this] { Pump(); });
  }

  void Close() noexcept override {
    if (file_) sf_close(file_);
    file_ = nullptr;
    Connection::Close();
  }

 private:
  void Pump() {
    if (bytes_left_ == 0) {
      End();
      return;
    }
    if (skip_frames_ > 0 && !silent_) {
      const uint64_t frames = std::min<uint64_t>(skip_frames_, kFramesPerBlock);
      samples_.resize(static_cast<size_t>(frames * frame_bytes_ / 2));
      if (sf_readf_short(file_, samples_.data(),
                         static_cast<sf_count_t>(frames)) <
          static_cast<sf_count_t>(frames))
        silent_ = true;
      skip_frames_ -= frames;
      // The loop serves others between blocks.
      asio::post(socket_.get_executor(), [self = shared_from_this(), this] {
        if (!closed_) Pump();
      });
      return;
    }
    const uint64_t frames = std::min<uint64_t>(
        (skip_ + bytes_left_ + frame_bytes_ - 1) / frame_bytes_,
        kFramesPerBlock);
    samples_.assign(static_cast<size_t>(frames * frame_bytes_ / 2), 0);
    // A file that ends early (cut short while it was written) is sent to
    // the announced length with silence.
    if (!silent_)
      sf_readf_short(file_, samples_.data(), static_cast<sf_count_t>(frames));
    out_.clear();
    for (const short sample : samples_) {
      const auto bits = static_cast<uint16_t>(sample);
      out_ += static_cast<char>(bits & 0xFF);
      out_ += static_cast<char>(bits >> 8);
    }
    out_.erase(0, skip_);
    skip_ = 0;
    if (out_.size() > bytes_left_) out_.resize(bytes_left_);
    bytes_left_ -= out_.size();
    Write(out_, [this] { Pump(); });
  }

  void End() {
    close_on_eof_ = true;
    asio::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_send, ignored);
    // The drain closes the connection once the client closes; the timer
    // bounds the wait.
    idle_.expires_after(std::chrono::seconds(2));
    idle_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
      if (!ec) self->Close();
    });
  }

  SNDFILE* file_ = nullptr;
  int fd_ = -1;  // the recording, owned here (libsndfile leaves it open)
  uint64_t frame_bytes_ = 2;
  uint64_t skip_ = 0;        // bytes of the next frames before the range
  uint64_t bytes_left_ = 0;  // of the samples still to send
  bool silent_ = false;
  uint64_t skip_frames_ = 0;  // decoded and dropped before the range
  std::vector<short> samples_;
  std::string out_;
};

// Keeps at most `limit` live connections: drops the finished ones and
// closes the oldest when `list` is full.
template <typename T>
void MakeRoom(std::list<std::weak_ptr<T>>& list, size_t limit) {
  list.remove_if([](const auto& weak) {
    auto c = weak.lock();
    return !c || c->closed();
  });
  while (list.size() >= limit) {
    if (auto oldest = list.front().lock()) oldest->Close();
    list.pop_front();
  }
}

}  // namespace

class StreamsCore : public std::enable_shared_from_this<StreamsCore> {
 public:
  StreamsCore(asio::io_context& io, Clock& clock, std::string app_path)
      : io_(io),
        clock_(clock),
        app_path_(std::move(app_path)),
        watch_(io),
        settle_(io),
        look_(io) {}

  void AddEventStream(tcp::socket socket) {
    MakeRoom(streams_, AppStreams::kMaxStreams);
    auto stream = std::make_shared<EventStream>(std::move(socket), io_);
    streams_.push_back(stream);
    stream->Start();
    if (!watching_) {
      watching_ = true;
      Watch();
      Rescan(false);
      Look();
    }
  }

  void SendRecording(tcp::socket socket, int fd, const std::string& request) {
    MakeRoom(sends_, AppStreams::kMaxSends);
    auto send = std::make_shared<RecordingSend>(std::move(socket), io_);
    sends_.push_back(send);
    send->Start(fd, request);
  }

  void Shutdown() noexcept {
    closed_ = true;
    for (auto& weak : streams_)
      if (auto s = weak.lock()) s->Close();
    for (auto& weak : sends_)
      if (auto s = weak.lock()) s->Close();
    streams_.clear();
    sends_.clear();
    try {
      settle_.cancel();
      look_.cancel();
      asio::error_code ignored;
      watch_.close(ignored);
    } catch (...) {
    }
  }

 private:
  // Reads the list and, with `announce`, sends what changed since the last
  // reading; then watches the folders of the calls now listed.
  void Rescan(bool announce) {
    const CallStore store(app_path_, clock_);
    const std::vector<web::CallView> calls = web::ListCalls(store);
    std::unordered_map<std::string, bool> now;
    std::set<std::string> folders;
    for (const auto& call : calls) {
      now.emplace(call.id, call.record.read_mark[0] == '1');
      std::string folder;
      int64_t number = 0;
      if (web::ParseCallId(call.id, folder, number)) folders.insert(folder);
    }
    if (announce) {
      for (const auto& [id, heard] : known_)
        if (!now.contains(id)) Broadcast("deleted", IdJson(id));
      // Oldest first, so a browser that adds them one by one keeps the order.
      for (auto call = calls.rbegin(); call != calls.rend(); ++call) {
        const auto before = known_.find(call->id);
        if (before == known_.end())
          Broadcast("stored", web::CallJson(*call));
        else if (before->second != now[call->id])
          Broadcast("heard", IdJson(call->id));
      }
    }
    known_ = std::move(now);
    if (inotify_ < 0) return;
    // Adding a watch that exists already only refreshes it.
    inotify_add_watch(inotify_, NativePath(app_path_, "\\Data").c_str(),
                      IN_MOVED_TO | IN_CLOSE_WRITE | IN_CREATE);
    for (const auto& folder : folders)
      inotify_add_watch(inotify_, NativePath(app_path_, folder).c_str(),
                        IN_MODIFY | IN_CLOSE_WRITE);
  }

  static std::string IdJson(const std::string& id) {
    return "{\"id\":\"" + id + "\"}";  // identities are digits and "-"
  }

  void Broadcast(std::string_view event, const std::string& data) {
    std::string text = "event: ";
    text += event;
    text += "\ndata: " + data + "\n\n";
    Send(text);
  }

  // Sends `text` to every open stream (empty: none) and forgets the
  // closed ones.
  void Send(const std::string& text) {
    streams_.remove_if([&text](const auto& weak) {
      auto stream = weak.lock();
      if (!stream || stream->closed()) return true;
      if (!text.empty()) stream->Send(text);
      return false;
    });
  }

  void Watch() {
    inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0) return;  // the look every second still sees changes
    watch_.assign(inotify_);
    WaitForChange();
  }

  void WaitForChange() {
    watch_.async_wait(
        asio::posix::stream_descriptor::wait_read,
        [self = shared_from_this()](const asio::error_code& ec) {
          if (ec || self->closed_) return;
          alignas(inotify_event) char events[4096];
          while (::read(self->inotify_, events, sizeof events) > 0) {
          }
          self->Settle();
          self->WaitForChange();
        });
  }

  void Settle() {
    if (settling_) return;
    settling_ = true;
    settle_.expires_after(kSettle);
    settle_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
      self->settling_ = false;
      if (!ec && !self->closed_) self->Rescan(true);
    });
  }

  void Look() {
    look_.expires_after(kLookInterval);
    look_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
      if (ec || self->closed_) return;
      if (++self->looks_ % kLooksPerHeartbeat == 0) self->Send(":\n\n");
      self->Send({});
      if (self->streams_.empty()) {
        // Nobody listens: the watching ends until the next stream.
        self->watching_ = false;
        self->inotify_ = -1;
        asio::error_code ignored;
        self->watch_.close(ignored);
        return;
      }
      self->Rescan(true);
      self->Look();
    });
  }

  asio::io_context& io_;
  Clock& clock_;
  std::string app_path_;
  bool closed_ = false;
  bool watching_ = false;
  bool settling_ = false;
  int looks_ = 0;
  int inotify_ = -1;  // owned by watch_ once assigned
  asio::posix::stream_descriptor watch_;
  asio::steady_timer settle_;
  asio::steady_timer look_;
  std::unordered_map<std::string, bool> known_;  // id -> heard
  std::list<std::weak_ptr<EventStream>> streams_;
  std::list<std::weak_ptr<RecordingSend>> sends_;
};

AppStreams::AppStreams(asio::io_context& io, Clock& clock, std::string app_path)
    : core_(std::make_shared<StreamsCore>(io, clock, std::move(app_path))) {}

AppStreams::~AppStreams() { core_->Shutdown(); }

void AppStreams::AddEventStream(tcp::socket socket) {
  core_->AddEventStream(std::move(socket));
}

void AppStreams::SendRecording(tcp::socket socket, int fd,
                               const std::string& request) {
  core_->SendRecording(std::move(socket), fd, request);
}

}  // namespace lw
