#include "soap/client/CurlLibrary.h"

#include <dlfcn.h>

#include <atomic>
#include <mutex>

#include "soap/client/NetException.h"

namespace vv {

namespace {

constexpr const char *CurlSoName = "libcurl.so.4";
constexpr const char *SslSoName = "libssl.so.3";
constexpr const char *CryptoSoName = "libcrypto.so.3";

TCurlApi GApi;
std::atomic<bool> GLoaded{false};
std::mutex GLoadLock;

template <typename F> bool Bind(void *lib, const char *name, F &slot) {
  slot = reinterpret_cast<F>(dlsym(lib, name));
  return slot != nullptr;
}

bool Load() {
  // Lazy binding: libcurl and the libraries behind it resolve only the
  // symbols a call reaches, not all of them at load time.
  void *lib = dlopen(CurlSoName, RTLD_LAZY | RTLD_LOCAL);
  if (!lib) return false;
  TCurlApi api{};
  bool ok = Bind(lib, "curl_global_init", api.global_init) &&
            Bind(lib, "curl_easy_init", api.easy_init) &&
            Bind(lib, "curl_easy_cleanup", api.easy_cleanup) &&
            Bind(lib, "curl_easy_reset", api.easy_reset) &&
            Bind(lib, "curl_easy_setopt", api.easy_setopt) &&
            Bind(lib, "curl_easy_getinfo", api.easy_getinfo) &&
            Bind(lib, "curl_easy_perform", api.easy_perform) &&
            Bind(lib, "curl_easy_strerror", api.easy_strerror) &&
            Bind(lib, "curl_slist_append", api.slist_append) &&
            Bind(lib, "curl_slist_free_all", api.slist_free_all) &&
            Bind(lib, "curl_version_info", api.version_info) &&
            Bind(lib, "curl_share_init", api.share_init) &&
            Bind(lib, "curl_share_setopt", api.share_setopt) &&
            Bind(lib, "curl_share_cleanup", api.share_cleanup);
  if (!ok || api.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
    dlclose(lib);
    return false;
  }
  // Already loaded as libcurl's own dependency when its TLS backend is OpenSSL.
  if (void *ssl = dlopen(SslSoName, RTLD_LAZY | RTLD_LOCAL | RTLD_NOLOAD)) {
    Bind(ssl, "SSL_CTX_set_client_cert_cb", api.ssl_ctx_set_client_cert_cb);
    Bind(ssl, "SSL_get_version", api.ssl_get_version);
    Bind(ssl, "SSL_has_pending", api.ssl_has_pending);
  }
  // Both or neither.
  void *crypto = dlopen(CryptoSoName, RTLD_LAZY | RTLD_LOCAL | RTLD_NOLOAD);
  if (crypto &&
      !(Bind(crypto, "EVP_MD_fetch", api.md_fetch) && Bind(crypto, "EVP_Digest", api.digest)))
    api.md_fetch = nullptr;
  // The library stays loaded for the life of the process: connections and
  // TLS state hold pointers into it.
  GApi = api;
  return true;
}

} // namespace

const TCurlApi &CurlApi() {
  if (!GLoaded.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> guard(GLoadLock);
    if (!GLoaded.load(std::memory_order_relaxed)) {
      if (!Load()) throw ENetHTTPClientException("Error obtaining session handle");
      GLoaded.store(true, std::memory_order_release);
    }
  }
  return GApi;
}

bool CurlLoaded() { return GLoaded.load(std::memory_order_acquire); }

const char *CurlErrorText(CURLcode code) {
  const char *text = CurlApi().easy_strerror(code);
  return text ? text : "Unknown error";
}

} // namespace vv
