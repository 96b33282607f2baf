#include "sim/rtsp_server.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <iterator>
#include <map>
#include <mutex>

#include "sim/faulty_answer_writer.h"
#include "sim/http_server.h"
#include "sim/playback_mount.h"
#include "sim/quirk_relay.h"
#include "sim/replay_front.h"
#include "sim/replay_packets.h"
#include "sim/replay_sender.h"
#include "sim/sha256_digest_auth.h"

namespace strandline::sim {
namespace {

constexpr const char* kRole = "viewer";
constexpr guint kMulticastSessionSeconds = 24 * 3600;

gboolean DropMessages(GstRTSPClient*, GstRTSPMessage*, guint, gboolean, gpointer) { return TRUE; }

GstRTSPFilterResult KeepRef(GstRTSPServer*, GstRTSPClient*, gpointer) { return GST_RTSP_FILTER_REF; }
GstRTSPFilterResult RemoveSession(GstRTSPSessionPool*, GstRTSPSession*, gpointer) { return GST_RTSP_FILTER_REMOVE; }

void CloseAllClients(GstRTSPServer* server) {
  GList* clients = gst_rtsp_server_client_filter(server, KeepRef, nullptr);
  for (GList* item = clients; item; item = item->next) {
    auto* client = static_cast<GstRTSPClient*>(item->data);
    gst_rtsp_client_close(client);
    g_object_unref(client);
  }
  g_list_free(clients);
}

// Multicast receivers of this camera family send no keep-alive; the stream
// must not stop when the usual session time-out passes. (The group sockets
// were bound, open to local receivers, when the description was made.)
void PrepareMulticastSession(GstRTSPContext* ctx) {
  if (!ctx->stream || !ctx->trans || !ctx->session) return;
  const GstRTSPTransport* transport = gst_rtsp_stream_transport_get_transport(ctx->trans);
  if (!transport || transport->lower_transport != GST_RTSP_LOWER_TRANS_UDP_MCAST) return;
  gst_rtsp_session_set_timeout(ctx->session, kMulticastSessionSeconds);
}

bool PickMulticastPorts(uint16_t* port) {
  for (int attempt = 0; attempt < 64; ++attempt) {
    int first = socket(AF_INET, SOCK_DGRAM, 0);
    if (first < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof(address);
    bool ok = bind(first, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
              getsockname(first, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    uint16_t candidate = ok ? static_cast<uint16_t>(ntohs(address.sin_port) & ~1u) : 0;
    close(first);
    if (!ok || candidate < 1024 || candidate > 65000) continue;
    // Room for four inputs' pairs.
    bool free = true;
    for (int offset = 0; offset < 8 && free; ++offset) {
      int probe = socket(AF_INET, SOCK_DGRAM, 0);
      sockaddr_in at{};
      at.sin_family = AF_INET;
      at.sin_addr.s_addr = htonl(INADDR_ANY);
      at.sin_port = htons(static_cast<uint16_t>(candidate + offset));
      free = probe >= 0 && bind(probe, reinterpret_cast<sockaddr*>(&at), sizeof(at)) == 0;
      if (probe >= 0) close(probe);
    }
    if (free) {
      *port = candidate;
      return true;
    }
  }
  return false;
}

}  // namespace

struct RtspServer::Faults {
  std::shared_ptr<std::atomic<bool>> frozen = std::make_shared<std::atomic<bool>>(false);
  std::atomic<int> describe{static_cast<int>(DescribeFault::kNone)};
  std::atomic<int> request_status{0};
  std::atomic<int> trickle_ms{50};
  std::shared_ptr<PictureLog> pictures = std::make_shared<PictureLog>();
};

namespace {

using SharedFaults = std::shared_ptr<RtspServer::Faults>;

void DeleteFaults(gpointer data, GClosure*) { delete static_cast<SharedFaults*>(data); }

// Every request's "pre-" signal: a status fault answers it before the server looks at it.
GstRTSPStatusCode StatusFault(GstRTSPClient*, GstRTSPContext*, gpointer data) {
  int status = (*static_cast<SharedFaults*>(data))->request_status.load();
  return status == 0 ? GST_RTSP_STS_OK : static_cast<GstRTSPStatusCode>(status);
}

constexpr char kWriterKey[] = "strandline-sim-writer";

std::shared_ptr<FaultyAnswerWriter> WriterOf(GstRTSPClient* client) {
  auto* writer = static_cast<std::shared_ptr<FaultyAnswerWriter>*>(g_object_get_data(G_OBJECT(client), kWriterKey));
  return writer ? *writer : nullptr;
}

// The writer is found through the client: this server version does not pass
// the user data given with the function on every path.
gboolean SendThroughWriter(GstRTSPClient* client, GstRTSPMessage* messages, guint count, gboolean, gpointer) {
  if (auto writer = WriterOf(client)) {
    for (guint i = 0; i < count; ++i) writer->Send(&messages[i]);
  }
  return TRUE;
}

// From now on this connection's answers are written by a FaultyAnswerWriter.
void HandOverToWriter(GstRTSPClient* client, FaultyAnswerWriter::Mode mode, std::chrono::milliseconds interval) {
  if (WriterOf(client)) return;
  GstRTSPConnection* connection = gst_rtsp_client_get_connection(client);
  GSocket* socket = connection ? gst_rtsp_connection_get_write_socket(connection) : nullptr;
  if (!socket) return;
  auto writer = std::make_shared<FaultyAnswerWriter>(g_socket_get_fd(socket), mode, interval);
  g_object_set_data_full(G_OBJECT(client), kWriterKey, new std::shared_ptr<FaultyAnswerWriter>(writer),
                         [](gpointer d) { delete static_cast<std::shared_ptr<FaultyAnswerWriter>*>(d); });
  gst_rtsp_client_set_send_messages_func(client, SendThroughWriter, nullptr, nullptr);
  g_signal_connect(client, "closed", G_CALLBACK(+[](GstRTSPClient* c, gpointer) {
                     if (auto w = WriterOf(c)) w->Close();
                   }),
                   nullptr);
}

GstRTSPStatusCode DescribeFaultFor(GstRTSPClient* client, GstRTSPContext* ctx, gpointer data) {
  auto& faults = **static_cast<SharedFaults*>(data);
  if (GstRTSPStatusCode status = StatusFault(client, ctx, data); status != GST_RTSP_STS_OK) return status;
  switch (static_cast<DescribeFault>(faults.describe.load())) {
    case DescribeFault::kNone:
      return GST_RTSP_STS_OK;
    case DescribeFault::kStatus500:
      return GST_RTSP_STS_INTERNAL_SERVER_ERROR;
    case DescribeFault::kNoAnswer:
      // From here on nothing this connection's client is told leaves the server.
      gst_rtsp_client_set_send_messages_func(client, DropMessages, nullptr, nullptr);
      return GST_RTSP_STS_INTERNAL_SERVER_ERROR;
    case DescribeFault::kTrickle:
      HandOverToWriter(client, FaultyAnswerWriter::Mode::kTrickle, std::chrono::milliseconds(faults.trickle_ms.load()));
      return GST_RTSP_STS_OK;
    case DescribeFault::kHugeContentLength:
      HandOverToWriter(client, FaultyAnswerWriter::Mode::kHugeContentLength, std::chrono::milliseconds(0));
      return GST_RTSP_STS_OK;
  }
  return GST_RTSP_STS_OK;
}

void WatchClient(GstRTSPClient* client, const SharedFaults& faults) {
  g_signal_connect_data(client, "pre-describe-request", G_CALLBACK(DescribeFaultFor), new SharedFaults(faults),
                        DeleteFaults, GConnectFlags(0));
  // No state changes for a refused request. (Not OPTIONS: refusing it from
  // its signal frees an answer that is still in use.)
  for (const char* signal :
       {"pre-setup-request", "pre-play-request", "pre-pause-request", "pre-teardown-request",
        "pre-set-parameter-request", "pre-get-parameter-request", "pre-announce-request", "pre-record-request"}) {
    g_signal_connect_data(client, signal, G_CALLBACK(StatusFault), new SharedFaults(faults), DeleteFaults,
                          GConnectFlags(0));
  }
  // A busy camera answers with the status before it checks anything, so
  // every answer, also those refused for other reasons, is replaced with it.
  g_signal_connect_data(
      client, "send-message",
      G_CALLBACK(+[](GstRTSPClient*, GstRTSPContext* ctx, GstRTSPMessage* message, gpointer data) {
        int status = (*static_cast<SharedFaults*>(data))->request_status.load();
        if (status != 0 && ctx && ctx->request && gst_rtsp_message_get_type(message) == GST_RTSP_MESSAGE_RESPONSE) {
          gst_rtsp_message_init_response(message, static_cast<GstRTSPStatusCode>(status), nullptr, ctx->request);
          return;
        }
        if (ctx && ctx->method == GST_RTSP_SETUP) PrepareMulticastSession(ctx);
      }),
      new SharedFaults(faults), DeleteFaults, GConnectFlags(0));
}

}  // namespace

// A failed send of interleaved data makes the server queue a close of the
// client on the loop without holding a reference to it; a client that is
// finalized first (its connection was just closed) would then be used after
// it was freed. The keeper holds a reference to every client until a while
// after it closed, so that such queued work has run by then. Loop thread only.
struct RtspServer::ClientKeeper {
  std::map<GstRTSPClient*, GSource*> closing;  // client -> the timer that lets it go

  void Keep(GstRTSPClient* client) {
    g_object_ref(client);
    g_signal_connect(client, "closed", G_CALLBACK(OnClosed), this);
  }

  static void OnClosed(GstRTSPClient* client, gpointer data) {
    auto* self = static_cast<ClientKeeper*>(data);
    if (self->closing.count(client)) return;
    GSource* later = g_timeout_source_new(1000);
    g_source_set_callback(later, Release, new std::pair<ClientKeeper*, GstRTSPClient*>(self, client),
                          [](gpointer pair) { delete static_cast<std::pair<ClientKeeper*, GstRTSPClient*>*>(pair); });
    g_source_attach(later, g_main_context_get_thread_default());
    self->closing[client] = later;
  }

  static gboolean Release(gpointer data) {
    auto [self, client] = *static_cast<std::pair<ClientKeeper*, GstRTSPClient*>*>(data);
    GSource* timer = self->closing[client];
    self->closing.erase(client);
    g_source_unref(timer);
    g_signal_handlers_disconnect_by_data(client, self);
    g_object_unref(client);
    return G_SOURCE_REMOVE;
  }

  // Once the loop has ended: lets every client go at once. The clients hold the
  // loop's context, so their timers would otherwise keep it alive for ever.
  void ReleaseAll() {
    while (!closing.empty()) {
      auto [client, timer] = *closing.begin();
      closing.erase(closing.begin());
      g_source_destroy(timer);
      g_source_unref(timer);
      g_signal_handlers_disconnect_by_data(client, this);
      g_object_unref(client);
    }
  }
};

struct RtspServer::Instance {
  GstRTSPServer* server = nullptr;
  GSource* source = nullptr;
  GSource* session_watch = nullptr;
  uint16_t port = 0;
  std::vector<std::shared_ptr<RtspMount>> mounts;
  std::unique_ptr<QuirkRelay> relay;   // owns the input's port when quirks are set
  std::unique_ptr<ReplayFront> front;  // owns it in the replay mode
};

RtspServer::RtspServer() : faults_(std::make_shared<Faults>()) {}

RtspServer::~RtspServer() { Stop(); }

void RtspServer::RunOnLoop(const std::function<void()>& work) {
  if (g_main_context_is_owner(context_)) {
    work();
    return;
  }
  struct Call {
    // Held by the caller until the call is queued: the hand-over to the loop
    // thread then also shows in the C++ memory model, not only inside GLib.
    std::mutex handover;
    const std::function<void()>* work = nullptr;
    std::promise<void> done;
  };
  Call call;
  std::future<void> done = call.done.get_future();
  {
    std::lock_guard<std::mutex> lock(call.handover);
    call.work = &work;
    g_main_context_invoke_full(
        context_, G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
          auto* c = static_cast<Call*>(data);
          const std::function<void()>* job = nullptr;
          {
            std::lock_guard<std::mutex> taken(c->handover);
            job = c->work;
          }
          (*job)();
          c->done.set_value();
          return G_SOURCE_REMOVE;
        },
        &call, nullptr);
  }
  done.wait();
}

bool RtspServer::Start(const Config& config, std::string* error) {
  Stop();
  config_ = config;
  if (config_.ports.empty()) config_.ports.push_back(0);
  if (config_.multicast_port == 0 && !PickMulticastPorts(&config_.multicast_port)) {
    if (error) *error = "no free UDP ports for multicast";
    return false;
  }
  context_ = g_main_context_new();
  loop_ = g_main_loop_new(context_, FALSE);
  keeper_ = std::make_unique<ClientKeeper>();
  thread_ = std::thread([context = context_, loop = loop_] {
    g_main_context_push_thread_default(context);
    g_main_loop_run(loop);
    g_main_context_pop_thread_default(context);
  });
  bool ok = false;
  RunOnLoop([&] { ok = SetUp(error); });
  if (!ok) {
    Stop();
    return false;
  }
  return true;
}

bool RtspServer::SetUp(std::string* error) {
  ports_.clear();
  if (config_.replay) {
    auto packets = config_.clip ? PrepareReplayPackets(*config_.clip) : nullptr;
    if (!packets || !config_.quirks.Empty()) {
      if (error) *error = packets ? "the replay mode takes no quirks" : "the replay mode needs an H.264 clip";
      return false;
    }
    sender_ = std::make_shared<ReplaySender>(std::move(packets), faults_->frozen);
    if (!sender_->Begin(error)) return false;
  }
  for (size_t input = 0; input < config_.ports.size(); ++input) {
    auto instance = std::make_unique<Instance>();
    instance->server = gst_rtsp_server_new();
    instance->port = config_.ports[input];
    GstRTSPServer* server = instance->server;

    // Clients are served on this loop: no extra threads per connection.
    GstRTSPThreadPool* pool = gst_rtsp_server_get_thread_pool(server);
    gst_rtsp_thread_pool_set_max_threads(pool, 0);

    auto group_port = static_cast<uint16_t>(config_.multicast_port + 2 * input);

    if (input == 0 && config_.card) {
      GstRTSPMountPoints* playback = NewPlaybackMountPoints();
      gst_rtsp_server_set_mount_points(server, playback);
      g_object_unref(playback);
    }
    GstRTSPMountPoints* mount_points = gst_rtsp_server_get_mount_points(server);
    const char* paths[] = {"/", "/track1", "/track2", "/track3", "/multicast"};
    const int encoders[] = {1, 1, 2, 3, 1};
    for (size_t i = 0; i < std::size(paths); ++i) {
      RtspMount::MountConfig mount_config;
      mount_config.path = paths[i];
      mount_config.encoder = config_.one_channel_per_input ? static_cast<int>(input) + 1 : encoders[i];
      mount_config.multicast = mount_config.path == "/multicast";
      mount_config.group = config_.multicast_group;
      mount_config.group_port = group_port;
      mount_config.with_clock = config_.with_clock;
      mount_config.sliced = config_.quirks.Has(Quirk::kMultiSlice) || config_.quirks.Has(Quirk::kMarkerEverySlice);
      auto mount = RtspMount::Create(mount_config, config_.settings, config_.clip, faults_->frozen, pool, context_);
      if (input == 0) mount->SetStorageCard(config_.card);
      if (input == 0 && mount_config.encoder == 1 && !mount_config.multicast) mount->SetPictureLog(faults_->pictures);
      GstRTSPMediaFactory* factory = mount->factory();
      if (config_.auth != RtspAuth::kNone) {
        gst_rtsp_media_factory_add_role(factory, kRole, GST_RTSP_PERM_MEDIA_FACTORY_ACCESS, G_TYPE_BOOLEAN, TRUE,
                                        GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT, G_TYPE_BOOLEAN, TRUE, nullptr);
      }
      gst_rtsp_mount_points_add_factory(mount_points, mount_config.path.c_str(),
                                        GST_RTSP_MEDIA_FACTORY(g_object_ref(factory)));
      instance->mounts.push_back(std::move(mount));
    }
    if (input == 0 && config_.card)
      gst_rtsp_mount_points_add_factory(mount_points, kPlaybackPath, NewPlaybackFactory(config_.card));
    g_object_unref(mount_points);
    g_object_unref(pool);

    if (config_.auth == RtspAuth::kDigestSha256) {
      GstRTSPToken* token = gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, kRole, nullptr);
      GstRTSPAuth* auth = NewSha256DigestAuth(config_.user, config_.password, token);
      gst_rtsp_token_unref(token);
      gst_rtsp_server_set_auth(server, auth);
      g_object_unref(auth);
    } else if (config_.auth != RtspAuth::kNone) {
      GstRTSPAuth* auth = gst_rtsp_auth_new();
      gst_rtsp_auth_set_realm(auth, "IP Camera");
      GstRTSPToken* token = gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, kRole, nullptr);
      if (config_.auth == RtspAuth::kBasic) {
        gchar* basic = gst_rtsp_auth_make_basic(config_.user.c_str(), config_.password.c_str());
        gst_rtsp_auth_add_basic(auth, basic, token);
        g_free(basic);
        gst_rtsp_auth_set_supported_methods(auth, GST_RTSP_AUTH_BASIC);
      } else {
        gst_rtsp_auth_add_digest(auth, config_.user.c_str(), config_.password.c_str(), token);
        gst_rtsp_auth_set_supported_methods(auth, GST_RTSP_AUTH_DIGEST);
      }
      gst_rtsp_token_unref(token);
      gst_rtsp_server_set_auth(server, auth);
      g_object_unref(auth);
    }

    g_signal_connect_data(server, "client-connected",
                          G_CALLBACK(+[](GstRTSPServer*, GstRTSPClient* client, gpointer data) {
                            WatchClient(client, *static_cast<SharedFaults*>(data));
                          }),
                          new SharedFaults(faults_), DeleteFaults, GConnectFlags(0));

    g_signal_connect(server, "client-connected",
                     G_CALLBACK(+[](GstRTSPServer*, GstRTSPClient* client, gpointer keeper) {
                       static_cast<ClientKeeper*>(keeper)->Keep(client);
                     }),
                     keeper_.get());

    GstRTSPSessionPool* sessions = gst_rtsp_server_get_session_pool(server);
    instance->session_watch = gst_rtsp_session_pool_create_watch(sessions);
    GstRTSPSessionPoolFunc expire = [](GstRTSPSessionPool* p, gpointer) -> gboolean {
      gst_rtsp_session_pool_cleanup(p);
      return G_SOURCE_CONTINUE;
    };
    // The pool's watch calls its own function type through the generic source slot.
    g_source_set_callback(instance->session_watch, reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(expire)),
                          nullptr, nullptr);
    g_source_attach(instance->session_watch, context_);
    g_object_unref(sessions);

    const uint16_t public_port = instance->port;
    if (!config_.quirks.Empty() || sender_) instance->port = 0;
    if (!refusing_ && !Listen(*instance, error)) {
      instances_.push_back(std::move(instance));
      return false;
    }
    if (!config_.quirks.Empty()) {
      instance->relay = std::make_unique<QuirkRelay>();
      QuirkRelay::Config relay{public_port, instance->port, config_.quirks, config_.user, config_.password};
      if (!instance->relay->Start(relay, error)) {
        instances_.push_back(std::move(instance));
        return false;
      }
    }
    if (sender_) {
      instance->front = std::make_unique<ReplayFront>();
      if (!instance->front->Start({public_port, instance->port, sender_}, error)) {
        instances_.push_back(std::move(instance));
        return false;
      }
    }
    ports_.push_back(instance->relay   ? instance->relay->Port()
                     : instance->front ? instance->front->Port()
                                       : instance->port);
    instances_.push_back(std::move(instance));
  }
  return true;
}

bool RtspServer::Listen(Instance& instance, std::string* error) {
  gst_rtsp_server_set_address(instance.server, config_.bind_address.c_str());
  // The replay front connects for each of hundreds of clients on one thread: a
  // connect the server's default backlog of 5 left waiting would hold up all.
  if (sender_) gst_rtsp_server_set_backlog(instance.server, 1024);
  std::string service = std::to_string(instance.port);
  gst_rtsp_server_set_service(instance.server, service.c_str());
  GError* failure = nullptr;
  GSource* source = gst_rtsp_server_create_source(instance.server, nullptr, &failure);
  if (!source) {
    if (error) {
      *error = "cannot listen on " + config_.bind_address + ":" + service + ": " +
               (failure ? failure->message : "unknown error");
    }
    if (failure) g_error_free(failure);
    return false;
  }
  g_source_attach(source, context_);
  instance.source = source;
  instance.port = static_cast<uint16_t>(gst_rtsp_server_get_bound_port(instance.server));
  return true;
}

void RtspServer::TearDown() {
  for (auto& instance : instances_) {
    if (instance->relay) instance->relay->Stop();
    if (instance->front) instance->front->Stop();
    if (instance->source) {
      g_source_destroy(instance->source);
      g_source_unref(instance->source);
      instance->source = nullptr;
    }
    if (instance->session_watch) {
      g_source_destroy(instance->session_watch);
      g_source_unref(instance->session_watch);
      instance->session_watch = nullptr;
    }
    CloseAllClients(instance->server);
    GstRTSPSessionPool* sessions = gst_rtsp_server_get_session_pool(instance->server);
    g_list_free(gst_rtsp_session_pool_filter(sessions, RemoveSession, nullptr));
    g_object_unref(sessions);
    GstRTSPMountPoints* mount_points = gst_rtsp_server_get_mount_points(instance->server);
    for (auto& mount : instance->mounts) {
      mount->Shutdown();
      gst_rtsp_mount_points_remove_factory(mount_points, mount->config().path.c_str());
    }
    g_object_unref(mount_points);
    instance->mounts.clear();
    g_object_unref(instance->server);
    instance->server = nullptr;
  }
  instances_.clear();
  if (sender_) sender_->End();
  sender_.reset();
}

void RtspServer::Stop() {
  if (!thread_.joinable()) return;
  RunOnLoop([this] { TearDown(); });
  g_main_loop_quit(loop_);
  thread_.join();
  // Work queued on the loop while it ended (encoders released late) still has to run.
  g_main_context_push_thread_default(context_);
  for (int i = 0; i < 10000 && g_main_context_iteration(context_, FALSE); ++i) {
  }
  keeper_->ReleaseAll();
  for (int i = 0; i < 10000 && g_main_context_iteration(context_, FALSE); ++i) {
  }
  g_main_context_pop_thread_default(context_);
  keeper_.reset();
  g_main_loop_unref(loop_);
  g_main_context_unref(context_);
  loop_ = nullptr;
  context_ = nullptr;
  ports_.clear();
}

void RtspServer::SetRefuseConnections(bool refuse) {
  refusing_ = refuse;
  if (!IsRunning()) return;
  RunOnLoop([this, refuse] {
    for (auto& instance : instances_) {
      if (refuse && instance->source) {
        g_source_destroy(instance->source);
        g_source_unref(instance->source);
        instance->source = nullptr;
      } else if (!refuse && !instance->source) {
        std::string error;
        if (!Listen(*instance, &error)) g_printerr("simulated camera: %s\n", error.c_str());
      }
    }
  });
}

void RtspServer::SetDescribeFault(DescribeFault fault) { faults_->describe = static_cast<int>(fault); }

void RtspServer::SetRequestStatus(int status) { faults_->request_status = status; }

void RtspServer::SetTrickleInterval(std::chrono::milliseconds interval) {
  faults_->trickle_ms = static_cast<int>(interval.count());
}

void RtspServer::SetFrozen(bool frozen) { faults_->frozen->store(frozen); }

std::vector<long long> RtspServer::PictureTimes() const { return faults_->pictures->Times(); }

void RtspServer::DropConnections() {
  if (!IsRunning()) return;
  RunOnLoop([this] {
    for (auto& instance : instances_) CloseAllClients(instance->server);
  });
}

void RtspServer::SendBye() {
  if (!IsRunning()) return;
  RunOnLoop([this] {
    for (auto& instance : instances_) {
      for (auto& mount : instance->mounts) mount->SendBye();
    }
  });
}

size_t RtspServer::ClientCount() {
  if (!IsRunning()) return 0;
  size_t count = 0;
  RunOnLoop([this, &count] {
    for (auto& instance : instances_) {
      GList* clients = gst_rtsp_server_client_filter(instance->server, KeepRef, nullptr);
      count += g_list_length(clients);
      g_list_free_full(clients, g_object_unref);
    }
  });
  return count;
}

}  // namespace strandline::sim
