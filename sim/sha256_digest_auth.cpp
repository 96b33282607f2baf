#include "sim/sha256_digest_auth.h"

#include <gst/rtsp/gstrtspmessage.h>

#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <random>

namespace strandline::sim {
namespace {

constexpr const char* kRealm = "IP Camera";
constexpr size_t kNoncesKept = 64;

struct State {
  std::string user;
  std::string password;
  GstRTSPToken* token = nullptr;
  std::mutex mutex;
  std::deque<std::string> nonces;  // issued, newest last
  std::mt19937_64 random{std::random_device{}()};
};

std::string Sha256(const std::string& text) {
  gchar* hex = g_compute_checksum_for_string(G_CHECKSUM_SHA256, text.c_str(), static_cast<gssize>(text.size()));
  std::string out = hex;
  g_free(hex);
  return out;
}

}  // namespace

struct SimSha256Auth {
  GstRTSPAuth parent;
  State* state;
};

struct SimSha256AuthClass {
  GstRTSPAuthClass parent_class;
};

G_DEFINE_TYPE(SimSha256Auth, sim_sha256_auth, GST_TYPE_RTSP_AUTH)

namespace {

bool CheckSha256(State& state, GstRTSPContext* ctx) {
  GstRTSPAuthCredential** credentials =
      gst_rtsp_message_parse_auth_credentials(ctx->request, GST_RTSP_HDR_AUTHORIZATION);
  if (credentials == nullptr) return false;
  bool ok = false;
  for (GstRTSPAuthCredential** c = credentials; *c != nullptr && !ok; ++c) {
    if ((*c)->scheme != GST_RTSP_AUTH_DIGEST || (*c)->params == nullptr) continue;
    std::map<std::string, std::string> params;
    for (GstRTSPAuthParam** p = (*c)->params; *p != nullptr; ++p) {
      if ((*p)->name == nullptr || (*p)->value == nullptr) continue;
      gchar* name = g_ascii_strdown((*p)->name, -1);
      params[name] = (*p)->value;
      g_free(name);
    }
    if (g_ascii_strcasecmp(params["algorithm"].c_str(), "SHA-256") != 0 || params["qop"] != "auth") continue;
    {
      std::lock_guard<std::mutex> lock(state.mutex);
      bool issued = false;
      for (const std::string& nonce : state.nonces) issued = issued || nonce == params["nonce"];
      if (!issued) continue;
    }
    const std::string ha1 = Sha256(state.user + ":" + kRealm + ":" + state.password);
    const std::string ha2 = Sha256(std::string(gst_rtsp_method_as_text(ctx->method)) + ":" + params["uri"]);
    const std::string expected =
        Sha256(ha1 + ":" + params["nonce"] + ":" + params["nc"] + ":" + params["cnonce"] + ":auth:" + ha2);
    ok = params["username"] == state.user && params["response"] == expected && !params["cnonce"].empty();
  }
  gst_rtsp_auth_credentials_free(credentials);
  return ok;
}

}  // namespace

static gboolean Sha256Authenticate(GstRTSPAuth* auth, GstRTSPContext* ctx) {
  State& state = *reinterpret_cast<SimSha256Auth*>(auth)->state;
  if (CheckSha256(state, ctx)) {
    ctx->token = state.token;
    return TRUE;
  }
  return GST_RTSP_AUTH_CLASS(sim_sha256_auth_parent_class)->authenticate(auth, ctx);
}

static void Sha256Challenge(GstRTSPAuth* auth, GstRTSPContext* ctx) {
  State& state = *reinterpret_cast<SimSha256Auth*>(auth)->state;
  std::string nonce;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(state.random()));
    nonce = text;
    state.nonces.push_back(nonce);
    if (state.nonces.size() > kNoncesKept) state.nonces.pop_front();
  }
  const std::string header =
      std::string("Digest realm=\"") + kRealm + "\", nonce=\"" + nonce + "\", algorithm=SHA-256, qop=\"auth\"";
  // Strongest first: some clients only read the first Digest challenge.
  gst_rtsp_message_add_header(ctx->response, GST_RTSP_HDR_WWW_AUTHENTICATE, header.c_str());
  GST_RTSP_AUTH_CLASS(sim_sha256_auth_parent_class)->generate_authenticate_header(auth, ctx);
}

static void Sha256Finalize(GObject* object) {
  State* state = reinterpret_cast<SimSha256Auth*>(object)->state;
  if (state->token != nullptr) gst_rtsp_token_unref(state->token);
  delete state;
  G_OBJECT_CLASS(sim_sha256_auth_parent_class)->finalize(object);
}

static void sim_sha256_auth_init(SimSha256Auth* self) { self->state = new State; }

static void sim_sha256_auth_class_init(SimSha256AuthClass* klass) {
  G_OBJECT_CLASS(klass)->finalize = Sha256Finalize;
  klass->parent_class.authenticate = Sha256Authenticate;
  klass->parent_class.generate_authenticate_header = Sha256Challenge;
}

GstRTSPAuth* NewSha256DigestAuth(const std::string& user, const std::string& password, GstRTSPToken* token) {
  auto* auth = static_cast<SimSha256Auth*>(g_object_new(sim_sha256_auth_get_type(), nullptr));
  auth->state->user = user;
  auth->state->password = password;
  auth->state->token = gst_rtsp_token_ref(token);
  GstRTSPAuth* base = GST_RTSP_AUTH(auth);
  gst_rtsp_auth_set_realm(base, kRealm);
  gst_rtsp_auth_add_digest(base, user.c_str(), password.c_str(), token);
  gst_rtsp_auth_set_supported_methods(base, GST_RTSP_AUTH_DIGEST);
  return base;
}

}  // namespace strandline::sim
