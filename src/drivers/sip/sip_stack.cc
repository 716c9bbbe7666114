#include "drivers/sip/sip_stack.h"

#include <pthread.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <future>
#include <mutex>
#include <random>
#include <string_view>

#include "devices/line_audio.h"
#include "drivers/sip/sip_line.h"
#include "drivers/sip/sip_text.h"

// libre and librem expect these from their own build system.
#define HAVE_INTTYPES_H 1
#define HAVE_STDBOOL_H 1
#include <re.h>
#include <rem.h>

namespace lw {
namespace {

constexpr uint32_t kRegisterExpiresS = 600;
// After a failed registration the next try comes this long after, doubling
// up to the longest: libre's own retry waits half a minute and more.
constexpr uint64_t kFirstRetryMs = 1000;
constexpr uint64_t kLongestRetryMs = 60000;
// Behind a home router the line sends the registrar an empty line this
// often, which keeps the router's mapping for its calls (routers forget an
// idle one after 30 s and more).
constexpr uint64_t kKeepAliveMs = 25000;
constexpr uint16_t kFirstRtpPort = 16384;
constexpr uint16_t kLastRtpPort = 32767;
// The line takes the far end's sound every 20 ms; what it has not taken in
// a quarter of a second is late and goes.
constexpr size_t kMaxHeardSamples = 2000;

std::string Text(const pl& p) { return std::string(p.p ? p.p : "", p.l); }

std::string ErrorName(int err) { return std::strerror(err); }

}  // namespace

// Everything here is touched on the libre thread only, but for `owner`,
// `clock`, `line` and the values set before the thread starts.
struct SipStack::State {
  SipStack* owner = nullptr;
  Clock* clock = nullptr;
  SipLine* line = nullptr;
  std::shared_ptr<bool> alive;  // read and cleared on the loop thread only
  // The account.
  std::string aor;  // "sip:user@domain"
  std::string user;
  std::string auth_user;
  std::string password;
  std::string registrar_uri;
  std::string route;  // "sip:proxy;lr" or empty
  std::string listen;
  bool register_account = false;

  mqueue* queue = nullptr;
  dnsc* dns = nullptr;
  sip* stack = nullptr;
  sipsess_sock* sessions = nullptr;
  sipreg* registration = nullptr;
  tmr retry{};  // the next registration after a failure
  uint64_t retry_ms = kFirstRetryMs;
  // What the registrar's answer taught: where it is, and the address the
  // line has on the internet (the received and rport of the answer's Via)
  // when a router stands between them; unset when none does.
  sa registrar_addr{};
  sa public_addr{};
  tmr keepalive{};
  bool completed_elsewhere = false;  // the offered call's CANCEL said so
  // The one call.
  sipsess* session = nullptr;
  uint32_t call = 0;
  bool incoming = false;
  bool answered = false;
  bool media_up = false;  // RTP flows both ways
  sdp_session* sdp = nullptr;
  sdp_media* media = nullptr;
  struct rtp_sock* rtp = nullptr;
  sa remote{};
  int audio_pt = -1;
  bool alaw = false;
  int event_pt = -1;
  bool stray_reported = false;
  bool latched = false;       // `remote` is where the far end's RTP comes from
  dtmf_dec* tones = nullptr;  // keypad tones in the far end's sound
  std::array<int16_t, 1024> decoded{};  // one packet's sound

  // Shared with the loop thread under `shared_mutex`: where the line's
  // sound goes (the RTP socket, closed while fd is -1), and the far end's
  // sound waiting for the line.
  std::mutex shared_mutex;
  struct Outlet {
    uint32_t call = 0;
    int fd = -1;
    sa to{};
    uint8_t pt = 0;
    bool alaw = false;
  } outlet;
  std::vector<int16_t> heard;
  uint32_t heard_call = 0;

  // Hands `event` to the line on the loop thread.
  void Post(std::function<void(SipLine&)> event) {
    std::shared_ptr<bool> is_alive = alive;
    SipLine* to = line;
    clock->Post([is_alive, to, event = std::move(event)] {
      if (*is_alive) event(*to);
    });
  }
  void Report(const std::string& text) {
    Post([text](SipLine& l) { l.Report(text); });
  }
  void Ended(const std::string& why) {
    const uint32_t ended = call;
    EndSession();
    Post([ended, why](SipLine& l) { l.OnEnded(ended, why); });
  }

  int Open();
  int Register();
  void Close();
  // The call's RTP socket and SDP, from the local address toward
  // `toward`, or the public address for a call through the registrar.
  int MakeMedia(const sa* toward, bool through_registrar);
  void LearnPublicAddress(const sip_msg* msg);
  bool ChooseFormats();
  void EndSession();
  void Refuse(const sip_msg* msg, uint16_t code, const char* reason,
              const std::string& why);
  // Tells the loop thread where the line's sound goes now.
  void PublishOutlet();
  // Hands the far end's sound to the line.
  void Heard(const int16_t* samples, size_t count);

  static void OnQueue(int, void* data, void*);
  static int OnAuth(char** user, char** password, const char*, void* arg);
  static void OnRegister(int err, const sip_msg* msg, void* arg);
  static void OnRetry(void* arg);
  static void OnKeepAlive(void* arg);
  static void OnConnect(const sip_msg* msg, void* arg);
  static void OnPacket(bool sent, enum sip_transp, const sa*, const sa*,
                       const uint8_t* packet, size_t size, void* arg);
  static int OnOffer(mbuf** descp, const sip_msg* msg, void* arg);
  static int OnAnswer(const sip_msg* msg, void* arg);
  static void OnProgress(const sip_msg*, void*) {}
  static void OnEstablished(const sip_msg* msg, void* arg);
  static void OnInfo(struct sip* stack, const sip_msg* msg, void* arg);
  static void OnClose(int err, const sip_msg* msg, void* arg);
  static void OnRtp(const sa* src, const rtp_header* hdr, mbuf* mb, void* arg);
  static void OnTone(char key, void* arg);
};

int SipStack::State::Open() {
  int err = mqueue_alloc(&queue, OnQueue, this);
  if (err) return err;
  sa servers[4];
  uint32_t count = 4;
  if (dns_srv_get(nullptr, 0, servers, &count) == 0 && count > 0)
    (void)dnsc_alloc(&dns, nullptr, servers, count);
  // The stack's argument reaches the packet trace (OnPacket).
  err = sip_alloc(&stack, dns, 32, 32, 32, "Linewarden", nullptr, this);
  if (err) return err;
  sa laddr;
  err = sa_decode(&laddr, listen.data(), listen.size());
  if (err) return err;
  err = sip_transp_add(stack, SIP_TRANSP_UDP, &laddr);
  if (err) return err;
  err = sipsess_listen(&sessions, stack, 32, OnConnect, this);
  if (!err) sip_set_trace_handler(stack, OnPacket);
  if (err || !register_account) return err;
  return Register();
}

int SipStack::State::Register() {
  const char* routes[] = {route.c_str()};
  return sipreg_register(&registration, stack, registrar_uri.c_str(),
                         aor.c_str(), nullptr, aor.c_str(), kRegisterExpiresS,
                         user.c_str(), routes, route.empty() ? 0 : 1, 0, OnAuth,
                         this, false, OnRegister, this, nullptr, nullptr);
}

void SipStack::State::Close() {
  EndSession();
  tmr_cancel(&retry);
  tmr_cancel(&keepalive);
  registration = static_cast<sipreg*>(mem_deref(registration));
  sessions = static_cast<sipsess_sock*>(mem_deref(sessions));
  if (stack != nullptr) sip_close(stack, true);
  stack = static_cast<struct sip*>(mem_deref(stack));
  dns = static_cast<dnsc*>(mem_deref(dns));
  tones = static_cast<dtmf_dec*>(mem_deref(tones));
}

void SipStack::State::OnTone(char key, void* arg) {
  auto& s = *static_cast<State*>(arg);
  const uint32_t call = s.call;
  s.Post([call, key](SipLine& l) {
    l.OnDigit(call, DigitPresses::Source::kInBand, key, 0);
  });
}

int SipStack::State::MakeMedia(const sa* toward, bool through_registrar) {
  sa local;
  int err = sip_transp_laddr(stack, &local, SIP_TRANSP_UDP, toward);
  if (err) return err;
  if (sa_is_any(&local)) {
    err = net_default_source_addr_get(AF_INET, &local);
    if (err) return err;
  }
  err = rtp_listen(&rtp, IPPROTO_UDP, &local, kFirstRtpPort, kLastRtpPort,
                   false, OnRtp, nullptr, this);
  if (!err) err = sdp_session_alloc(&sdp, &local);
  if (!err && through_registrar && sa_isset(&public_addr, SA_ADDR))
    sdp_session_set_laddr(sdp, &public_addr);
  if (!err)
    err =
        sdp_media_add(&media, sdp, "audio", sa_port(rtp_local(rtp)), "RTP/AVP");
  if (!err)
    err = sdp_format_add(nullptr, media, false, "0", "PCMU", 8000, 1, nullptr,
                         nullptr, nullptr, false, nullptr);
  if (!err)
    err = sdp_format_add(nullptr, media, false, "8", "PCMA", 8000, 1, nullptr,
                         nullptr, nullptr, false, nullptr);
  if (!err)
    err = sdp_format_add(nullptr, media, false, "101", "telephone-event", 8000,
                         1, nullptr, nullptr, nullptr, false, "0-15");
  if (!err) err = sdp_media_set_lattr(media, true, "ptime", "20");
  audio_pt = event_pt = -1;
  stray_reported = false;
  latched = false;
  if (tones == nullptr && !err)
    err = dtmf_dec_alloc(&tones, kLineSampleRate, 1, OnTone, this);
  else if (tones != nullptr)
    dtmf_dec_reset(tones, kLineSampleRate, 1);
  if (err) EndSession();
  return err;
}

bool SipStack::State::ChooseFormats() {
  std::vector<SdpFormat> formats;
  for (le* e = list_head(sdp_media_format_lst(media, false)); e != nullptr;
       e = e->next) {
    const auto* format = static_cast<const sdp_format*>(e->data);
    formats.push_back(
        {format->pt, format->name != nullptr ? format->name : ""});
  }
  const ChosenFormats chosen = lw::ChooseFormats(formats);
  audio_pt = chosen.audio_pt;
  alaw = chosen.alaw;
  event_pt = chosen.event_pt;
  const sa* address = sdp_media_raddr(media);
  if (address != nullptr) remote = *address;
  return audio_pt >= 0 && address != nullptr && sa_isset(&remote, SA_ALL);
}

void SipStack::State::EndSession() {
  session = static_cast<sipsess*>(mem_deref(session));
  sdp = static_cast<sdp_session*>(mem_deref(sdp));
  media = nullptr;
  media_up = false;
  answered = false;
  PublishOutlet();  // before the socket closes
  rtp = static_cast<struct rtp_sock*>(mem_deref(rtp));
}

void SipStack::State::Refuse(const sip_msg* msg, uint16_t code,
                             const char* reason, const std::string& why) {
  (void)sip_treply(nullptr, stack, msg, code, reason);
  // The address is the caller's text: no control characters reach the
  // journal.
  std::string from = Text(msg->from.auri);
  for (char& c : from)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  Report("SIP call from " + from + " refused (" + std::to_string(code) + " " +
         reason + "): " + why);
}

void SipStack::State::PublishOutlet() {
  const std::lock_guard<std::mutex> lock(shared_mutex);
  outlet.fd = -1;
  if (!media_up || rtp == nullptr || audio_pt < 0) return;
  const sa* local = rtp_local(rtp);
  outlet.fd = udp_sock_fd(static_cast<udp_sock*>(rtp_sock(rtp)), sa_af(local));
  outlet.call = call;
  outlet.to = remote;
  outlet.pt = static_cast<uint8_t>(audio_pt);
  outlet.alaw = alaw;
}

void SipStack::State::Heard(const int16_t* samples, size_t count) {
  const std::lock_guard<std::mutex> lock(shared_mutex);
  if (heard_call != call) heard.clear();
  heard_call = call;
  if (heard.size() > kMaxHeardSamples) heard.clear();
  heard.insert(heard.end(), samples, samples + count);
}

void SipStack::State::OnQueue(int, void* data, void*) {
  std::unique_ptr<std::function<void()>> work(
      static_cast<std::function<void()>*>(data));
  (*work)();
}

int SipStack::State::OnAuth(char** user, char** password, const char*,
                            void* arg) {
  auto& s = *static_cast<State*>(arg);
  int err = str_dup(user, s.auth_user.c_str());
  if (!err) err = str_dup(password, s.password.c_str());
  return err;
}

void SipStack::State::OnRegister(int err, const sip_msg* msg, void* arg) {
  auto& s = *static_cast<State*>(arg);
  bool registered = false;
  std::string text;
  if (err) {
    text =
        "SIP registration at " + s.registrar_uri + " failed: " + ErrorName(err);
  } else if (msg->scode < 200) {
    return;
  } else if (msg->scode < 300) {
    registered = true;
    text = "SIP registration at " + s.registrar_uri + ": registered";
  } else {
    text = "SIP registration at " + s.registrar_uri +
           " failed: " + std::to_string(msg->scode) + " " + Text(msg->reason);
  }
  if (registered) {
    s.retry_ms = kFirstRetryMs;
    s.registrar_addr = msg->src;
    s.LearnPublicAddress(msg);
  } else if (!tmr_isrunning(&s.retry)) {
    // The failed registration goes (not from inside its own handler), and
    // a new one starts after the back-off.
    tmr_start(&s.retry, 0, OnRetry, &s);
  }
  s.Post(
      [registered, text](SipLine& l) { l.OnRegistration(registered, text); });
}

void SipStack::State::OnRetry(void* arg) {
  auto& s = *static_cast<State*>(arg);
  if (s.registration != nullptr) {
    s.registration = static_cast<sipreg*>(mem_deref(s.registration));
    tmr_start(&s.retry, s.retry_ms, OnRetry, &s);
    s.retry_ms = std::min(s.retry_ms * 2, kLongestRetryMs);
    return;
  }
  if (const int err = s.Register()) {
    s.Report("SIP registration at " + s.registrar_uri +
             " cannot start: " + ErrorName(err));
    tmr_start(&s.retry, s.retry_ms, OnRetry, &s);
  }
}

void SipStack::State::LearnPublicAddress(const sip_msg* msg) {
  pl received{};
  pl rport{};
  sa seen{};
  sa local{};
  const bool behind_router =
      msg_param_decode(&msg->via.params, "received", &received) == 0 &&
      sa_set(&seen, &received, 0) == 0 &&
      sip_transp_laddr(stack, &local, SIP_TRANSP_UDP, &msg->src) == 0 &&
      !sa_cmp(&seen, &local, SA_ADDR);
  if (!behind_router) {
    sa_init(&public_addr, AF_UNSPEC);
    tmr_cancel(&keepalive);
    return;
  }
  if (msg_param_decode(&msg->via.params, "rport", &rport) == 0)
    sa_set_port(&seen, static_cast<uint16_t>(pl_u32(&rport)));
  if (!sa_cmp(&seen, &public_addr, SA_ALL)) {
    public_addr = seen;
    char text[64] = "";
    (void)re_snprintf(text, sizeof text, "%J", &seen);
    Report(std::string("SIP line behind a router: its public address is ") +
           text);
  }
  if (!tmr_isrunning(&keepalive))
    tmr_start(&keepalive, kKeepAliveMs, OnKeepAlive, this);
}

void SipStack::State::OnKeepAlive(void* arg) {
  auto& s = *static_cast<State*>(arg);
  if (mbuf* mb = mbuf_alloc(4)) {
    (void)mbuf_write_str(mb, "\r\n\r\n");
    mb->pos = 0;
    (void)sip_send(s.stack, nullptr, SIP_TRANSP_UDP, &s.registrar_addr, mb);
    mem_deref(mb);
  }
  tmr_start(&s.keepalive, kKeepAliveMs, OnKeepAlive, &s);
}

void SipStack::State::OnConnect(const sip_msg* msg, void* arg) {
  auto& s = *static_cast<State*>(arg);
  if (s.session != nullptr)
    return s.Refuse(msg, 486, "Busy Here", "a call is in progress");
  if (!s.owner->accepting_)
    return s.Refuse(msg, 480, "Temporarily Unavailable", "the line is closed");
  if (!msg_ctype_cmp(&msg->ctyp, "application", "sdp") ||
      mbuf_get_left(msg->mb) == 0)
    return s.Refuse(msg, 488, "Not Acceptable Here", "no SDP offer");
  const bool through_registrar = sa_isset(&s.registrar_addr, SA_ADDR) &&
                                 sa_cmp(&msg->src, &s.registrar_addr, SA_ADDR);
  if (int err = s.MakeMedia(&msg->src, through_registrar))
    return s.Refuse(msg, 500, "Server Internal Error",
                    "no media socket: " + ErrorName(err));
  if (int err = sdp_decode(s.sdp, msg->mb, true)) {
    s.EndSession();
    return s.Refuse(msg, 488, "Not Acceptable Here",
                    "the SDP offer cannot be read: " + ErrorName(err));
  }
  if (!s.ChooseFormats()) {
    s.EndSession();
    return s.Refuse(msg, 488, "Not Acceptable Here",
                    "the SDP offer has no PCMU or PCMA audio");
  }
  int err = sipsess_accept(&s.session, s.sessions, msg, 180, "Ringing",
                           s.user.c_str(), "application/sdp", nullptr, OnAuth,
                           &s, false, OnOffer, OnAnswer, OnEstablished, OnInfo,
                           nullptr, OnClose, &s, nullptr);
  if (err) {
    s.EndSession();
    return s.Refuse(msg, 500, "Server Internal Error", ErrorName(err));
  }
  s.call = s.owner->NewCall();
  s.incoming = true;
  s.completed_elsewhere = false;
  const sip_hdr* asserted = sip_msg_hdr(msg, SIP_HDR_P_ASSERTED_IDENTITY);
  const NameAndUser caller = CallerIdentity(
      asserted != nullptr ? Text(asserted->val) : "", Text(msg->from.val));
  const uint32_t call = s.call;
  s.Post([call, caller](SipLine& l) { l.OnOffered(call, caller); });
}

void SipStack::State::OnPacket(bool sent, enum sip_transp, const sa*, const sa*,
                               const uint8_t* packet, size_t size, void* arg) {
  // Another phone of the account took the call: its CANCEL says so in a
  // Reason header, which neither the session nor a listener sees (the
  // transaction layer answers the CANCEL itself). The stack shows every
  // packet here first.
  const std::string_view text(reinterpret_cast<const char*>(packet), size);
  if (sent || text.substr(0, 7) != "CANCEL ") return;
  auto& s = *static_cast<State*>(arg);
  const std::string head(text.substr(0, text.find("\r\n\r\n")));
  s.completed_elsewhere =
      strcasestr(head.c_str(), "\nReason:") != nullptr &&
      strcasestr(head.c_str(), "completed elsewhere") != nullptr;
}

int SipStack::State::OnOffer(mbuf** descp, const sip_msg* msg, void* arg) {
  // A re-INVITE: answer from the same media.
  auto& s = *static_cast<State*>(arg);
  if (mbuf_get_left(msg->mb) > 0) {
    if (sdp_decode(s.sdp, msg->mb, true) != 0 || !s.ChooseFormats())
      return EPROTO;
  }
  return sdp_encode(descp, s.sdp, mbuf_get_left(msg->mb) == 0);
}

int SipStack::State::OnAnswer(const sip_msg* msg, void* arg) {
  auto& s = *static_cast<State*>(arg);
  if (sdp_decode(s.sdp, msg->mb, false) != 0 || !s.ChooseFormats()) {
    s.Report("SIP call to " + Text(msg->to.auri) +
             ": the SDP answer has no PCMU or PCMA audio");
    return EPROTO;
  }
  return 0;
}

void SipStack::State::OnEstablished(const sip_msg*, void* arg) {
  auto& s = *static_cast<State*>(arg);
  s.media_up = true;
  s.PublishOutlet();
  const uint32_t call = s.call;
  s.Post([call](SipLine& l) { l.OnConnected(call); });
}

void SipStack::State::OnInfo(struct sip* stack, const sip_msg* msg, void* arg) {
  auto& s = *static_cast<State*>(arg);
  if (!msg_ctype_cmp(&msg->ctyp, "application", "dtmf-relay")) {
    (void)sip_treply(nullptr, stack, msg, 415, "Unsupported Media Type");
    return;
  }
  (void)sip_treply(nullptr, stack, msg, 200, "OK");
  const std::optional<char> key = ParseDtmfRelay(
      std::string_view(reinterpret_cast<const char*>(mbuf_buf(msg->mb)),
                       mbuf_get_left(msg->mb)));
  if (!key) return;
  const uint32_t call = s.call;
  const char k = *key;
  s.Post([call, k](SipLine& l) {
    l.OnDigit(call, DigitPresses::Source::kInfo, k, 0);
  });
}

void SipStack::State::OnClose(int err, const sip_msg* msg, void* arg) {
  auto& s = *static_cast<State*>(arg);
  std::string why;
  if (msg != nullptr && msg->req)
    why = Text(msg->met);  // "BYE" or "CANCEL"
  else if (msg != nullptr)
    why = std::to_string(msg->scode) + " " + Text(msg->reason);
  else
    why = err != ECONNRESET       ? ErrorName(err)
          : s.completed_elsewhere ? kCompletedElsewhere
                                  : "CANCEL";
  s.Ended(why);
}

void SipStack::State::OnRtp(const sa* src, const rtp_header* hdr, mbuf* mb,
                            void* arg) {
  auto& s = *static_cast<State*>(arg);
  if (!s.media_up) return;
  if (!s.latched) {
    // Behind a router the far end's sound comes from another address than
    // its SDP names: the first packet's source is where it lives, and where
    // the line's sound goes (symmetric RTP).
    s.latched = true;
    s.remote = *src;
    s.PublishOutlet();
  } else if (!sa_cmp(src, &s.remote, SA_ALL)) {
    if (!s.stray_reported) {
      s.stray_reported = true;
      s.Report(
          "SIP call: RTP from an address the call did not offer is "
          "ignored");
    }
    return;
  }
  const uint8_t* payload = mbuf_buf(mb);
  const size_t size = mbuf_get_left(mb);
  const uint32_t call = s.call;
  if (hdr->pt == s.event_pt) {
    const std::optional<TelephoneEvent> event =
        ParseTelephoneEvent(payload, size);
    if (!event) return;
    const char key = event->key;
    const uint32_t press = hdr->ts;
    s.Post([call, key, press](SipLine& l) {
      l.OnDigit(call, DigitPresses::Source::kTelephoneEvent, key, press);
    });
    return;
  }
  if (hdr->pt != s.audio_pt) return;
  const size_t count = std::min(size, s.decoded.size());
  for (size_t i = 0; i < count; ++i)
    s.decoded[i] =
        s.alaw ? g711_alaw2pcm(payload[i]) : g711_ulaw2pcm(payload[i]);
  dtmf_dec_probe(s.tones, s.decoded.data(), count);
  s.Heard(s.decoded.data(), count);
}

SipStack::SipStack(Clock& clock, SipLine& line, const SipAccount& account)
    : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.owner = this;
  s.clock = &clock;
  s.line = &line;
  s.alive = std::make_shared<bool>(true);
  s.aor = account.address;
  const SipAddressParts parts = SplitSipAddress(account.address);
  s.user = parts.user;
  s.auth_user = account.auth_user.empty() ? parts.user : account.auth_user;
  s.password = account.password;
  s.registrar_uri =
      "sip:" + (account.registrar.empty() ? parts.host : account.registrar);
  if (!account.outbound_proxy.empty())
    s.route = "sip:" + account.outbound_proxy + ";lr";
  s.listen = account.listen;
  s.register_account = account.register_account;
}

SipStack::~SipStack() {
  *state_->alive = false;
  Stop();
}

std::string SipStack::Start() {
  if (running_) return "";
  std::promise<int> opened;
  std::future<int> result = opened.get_future();
  State* s = state_.get();
  thread_ = std::thread([s, &opened] {
    // Named for top and the benchmark, which show each thread's CPU.
    pthread_setname_np(pthread_self(), "lw-sip");
    int err = libre_init();
    if (!err) err = s->Open();
    opened.set_value(err);
    if (!err) (void)re_main(nullptr);
    s->Close();
    s->queue = static_cast<mqueue*>(mem_deref(s->queue));
    libre_close();
  });
  const int err = result.get();
  if (err) {
    thread_.join();
    return "cannot listen at " + state_->listen + ": " + ErrorName(err);
  }
  running_ = true;
  return "";
}

void SipStack::Stop() {
  if (!running_) return;
  Run([] { re_cancel(); });
  running_ = false;
  thread_.join();
}

void SipStack::Run(std::function<void()> work) {
  if (!running_) return;
  auto* message = new std::function<void()>(std::move(work));
  if (mqueue_push(state_->queue, 0, message) != 0) delete message;
}

void SipStack::Answer(uint32_t call) {
  State* s = state_.get();
  Run([s, call] {
    if (call != s->call || s->session == nullptr || s->answered) return;
    mbuf* desc = nullptr;
    int err = sdp_encode(&desc, s->sdp, false);
    if (!err) err = sipsess_answer(s->session, 200, "OK", desc, nullptr);
    mem_deref(desc);
    if (err) return s->Ended("answer failed: " + ErrorName(err));
    s->answered = true;
    s->media_up = true;
    s->PublishOutlet();
  });
}

void SipStack::Hangup(uint32_t call) {
  State* s = state_.get();
  Run([s, call] {
    if (call != s->call || s->session == nullptr) return;
    if (s->incoming && !s->answered)
      (void)sipsess_reject(s->session, 486, "Busy Here", nullptr);
    s->EndSession();  // BYE when established, CANCEL while dialled
  });
}

void SipStack::Dial(uint32_t call, const std::string& uri) {
  State* s = state_.get();
  Run([s, call, uri] {
    s->EndSession();
    s->call = call;
    s->incoming = false;
    mbuf* offer = nullptr;
    // The local address for the SDP is the one toward the address called.
    const SipAddressParts parts = SplitSipAddress(uri);
    const std::string host = parts.host.substr(0, parts.host.find(':'));
    sa toward;
    const bool numeric =
        sa_decode(&toward, parts.host.data(), parts.host.size()) == 0 ||
        sa_set_str(&toward, host.c_str(), 5060) == 0;
    // A number at the account's domain, or any call by the outbound
    // proxy, goes through the registrar's side of the router.
    const bool through_registrar =
        s->register_account &&
        (!s->route.empty() || parts.host == SplitSipAddress(s->aor).host);
    int err = s->MakeMedia(numeric ? &toward : nullptr, through_registrar);
    if (!err) err = sdp_encode(&offer, s->sdp, true);
    const char* routes[] = {s->route.c_str()};
    if (!err)
      err = sipsess_connect(
          &s->session, s->sessions, uri.c_str(), nullptr, s->aor.c_str(),
          s->user.c_str(), routes, s->route.empty() ? 0 : 1, "application/sdp",
          offer, State::OnAuth, s, false, State::OnOffer, State::OnAnswer,
          State::OnProgress, State::OnEstablished, State::OnInfo, nullptr,
          State::OnClose, s, nullptr);
    mem_deref(offer);
    if (err) s->Ended(ErrorName(err));
  });
}

void SipStack::TakeHeard(uint32_t call, std::vector<int16_t>& into) {
  State& s = *state_;
  const std::lock_guard<std::mutex> lock(s.shared_mutex);
  if (s.heard_call == call)
    into.insert(into.end(), s.heard.begin(), s.heard.end());
  s.heard.clear();
}

void SipStack::Send(uint32_t call, std::span<const int16_t> block) {
  State& s = *state_;
  std::array<uint8_t, RTP_HEADER_SIZE + kLineBlockSamples> packet{};
  const size_t count = std::min(block.size(), size_t{kLineBlockSamples});
  const std::lock_guard<std::mutex> lock(s.shared_mutex);
  const State::Outlet& out = s.outlet;
  if (out.fd < 0 || out.call != call) return;
  const bool first = stream_call_ != call;
  if (first) {
    // A new stream: its own source and a random start, as RTP asks.
    std::random_device random;
    stream_call_ = call;
    ssrc_ = random();
    sequence_ = static_cast<uint16_t>(random());
    timestamp_ = random();
  }
  packet[0] = 0x80;  // version 2
  packet[1] = static_cast<uint8_t>((first ? 0x80 : 0) | (out.pt & 0x7f));
  const auto put = [&packet](size_t at, uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i, value >>= 8)
      packet[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value);
  };
  put(2, sequence_++, 2);
  put(4, timestamp_, 4);
  put(8, ssrc_, 4);
  timestamp_ += static_cast<uint32_t>(count);
  for (size_t i = 0; i < count; ++i)
    packet[RTP_HEADER_SIZE + i] =
        out.alaw ? g711_pcm2alaw(block[i]) : g711_pcm2ulaw(block[i]);
  (void)sendto(out.fd, packet.data(), RTP_HEADER_SIZE + count, MSG_DONTWAIT,
               &out.to.u.sa, out.to.len);
}

}  // namespace lw
