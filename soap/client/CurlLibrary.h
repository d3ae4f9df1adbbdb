// libcurl, loaded at run time on first use: a process that never calls
// upstream never pays for loading it (and the thirty-odd libraries behind
// it). Only declarations come from <curl/curl.h>; the functions used are
// reached through this table.
#pragma once

#include <curl/curl.h>

namespace vv {

struct TCurlApi {
  CURLcode (*global_init)(long flags);
  CURL *(*easy_init)();
  void (*easy_cleanup)(CURL *);
  void (*easy_reset)(CURL *);
  CURLcode (*easy_setopt)(CURL *, CURLoption, ...);
  CURLcode (*easy_getinfo)(CURL *, CURLINFO, ...);
  CURLcode (*easy_perform)(CURL *);
  const char *(*easy_strerror)(CURLcode);
  curl_slist *(*slist_append)(curl_slist *, const char *);
  void (*slist_free_all)(curl_slist *);
  curl_version_info_data *(*version_info)(CURLversion);
  CURLSH *(*share_init)();
  CURLSHcode (*share_setopt)(CURLSH *, CURLSHoption, ...);
  CURLSHcode (*share_cleanup)(CURLSH *);
  // From the TLS library behind libcurl, when it is OpenSSL (else null):
  // lets the binding learn that a server asked for a client certificate.
  void (*ssl_ctx_set_client_cert_cb)(void *ctx, int (*cb)(void *ssl, void **x509, void **pkey));
  const char *(*ssl_get_version)(const void *ssl);
  // Whether a TLS connection holds bytes read from its socket and not yet
  // taken: a kept connection with any is never used again.
  int (*ssl_has_pending)(const void *ssl);
  // From the TLS library's crypto half, when it is OpenSSL 3 (else null):
  // digests of what kept connections are filed under. An algorithm is
  // fetched once; a digest by name would look it up on every call.
  void *(*md_fetch)(void *libctx, const char *algorithm, const char *properties);
  int (*digest)(const void *data, size_t size, unsigned char *md, unsigned int *mdSize,
                const void *algorithm, void *engine);
};

// The loaded library; raises ENetHTTPClientException "Error obtaining
// session handle" when it cannot be loaded or lacks a function. Thread-safe.
const TCurlApi &CurlApi();
// True when the library has been loaded in this process (for start-up checks).
bool CurlLoaded();

// libcurl's text for a code.
const char *CurlErrorText(CURLcode code);

} // namespace vv
