#include <curl/curl.h>
#include <poll.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>

#include "version.h"
#include "whois/rdap_exchange.h"

namespace {

struct Transfer {
  std::string body;
  size_t limit = 0;
  bool tooLarge = false;
};

size_t TakeBody(char* data, size_t size, size_t count, void* context) {
  auto* transfer = static_cast<Transfer*>(context);
  const size_t n = size * count;
  if (n > transfer->limit || transfer->body.size() > transfer->limit - n) {
    transfer->tooLarge = true;
    return 0;  // ends the transfer
  }
  transfer->body.append(data, n);
  return n;
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

RdapTransport TransportOf(CURLcode code, CURL* easy, const Transfer& transfer) {
  switch (code) {
    case CURLE_OK:
      return RdapTransport::Ok;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return RdapTransport::ResolveFailed;
    case CURLE_COULDNT_CONNECT:
      return RdapTransport::ConnectFailed;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_USE_SSL_FAILED:
      return RdapTransport::TlsFailed;
    case CURLE_WRITE_ERROR:
      return transfer.tooLarge ? RdapTransport::TooLarge : RdapTransport::NoAnswer;
    case CURLE_TOO_MANY_REDIRECTS:
      return RdapTransport::TooManyRedirects;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return RdapTransport::RedirectRefused;  // the first URL is always https
    case CURLE_OPERATION_TIMEDOUT: {
      curl_off_t connected = 0;
      curl_easy_getinfo(easy, CURLINFO_CONNECT_TIME_T, &connected);
      return connected > 0 ? RdapTransport::NoAnswer : RdapTransport::ConnectFailed;
    }
    default:
      return RdapTransport::NoAnswer;
  }
}

// Waits up to `seconds` unless the run is cancelled first; false when it was.
bool PauseUnlessCancelled(long long seconds, const RunToken& token) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!token.cancelled()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return true;
    pollfd wake{token.wakeFd(), POLLIN, 0};
    // Without a wake-up descriptor the wait is sliced so cancellation is still seen.
    poll(&wake, token.wakeFd() >= 0 ? 1 : 0, int(std::min<long long>(left, 100)));
  }
  return false;
}

// One GET, without retries.
RdapReply Get(const std::string& url, const RunToken& token, const RdapExchangeLimits& limits) {
  RdapReply reply;
  reply.url = url;
  Transfer transfer;
  transfer.limit = limits.answerLimit;

  const std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  const std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
  std::unique_ptr<curl_slist, ListDeleter> headers(
      curl_slist_append(nullptr, "Accept: application/rdap+json, application/json"));
  if (!easy || !multi || !headers) {
    reply.transport = RdapTransport::NoAnswer;
    return reply;
  }
  CURL* e = easy.get();
  curl_easy_setopt(e, CURLOPT_URL, url.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, kRdapRedirectMax);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
  static const std::string agent = "Pelorin/" + std::to_string(PELORIN_VERSION_MAJOR) + "." +
                                   std::to_string(PELORIN_VERSION_MINOR);
  curl_easy_setopt(e, CURLOPT_USERAGENT, agent.c_str());
  curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");  // decoded sizes count against the limit
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, TakeBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, limits.connectTimeoutMs);
  curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, limits.totalTimeoutMs);
  curl_multi_add_handle(multi.get(), e);

  int running = 1;
  while (running > 0) {
    if (curl_multi_perform(multi.get(), &running) != CURLM_OK) break;
    if (running == 0) break;
    curl_waitfd wake{token.wakeFd(), CURL_WAIT_POLLIN, 0};
    const unsigned extra = token.wakeFd() >= 0 ? 1 : 0;
    curl_multi_poll(multi.get(), extra ? &wake : nullptr, extra, extra ? 10000 : 100, nullptr);
    if (token.cancelled()) {
      curl_multi_remove_handle(multi.get(), e);
      reply.transport = RdapTransport::Cancelled;
      return reply;
    }
  }

  CURLcode result = CURLE_RECV_ERROR;
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == e) result = message->data.result;
  }
  curl_multi_remove_handle(multi.get(), e);

  if (char* last = nullptr;
      curl_easy_getinfo(e, CURLINFO_EFFECTIVE_URL, &last) == CURLE_OK && last) {
    reply.url = last;
  }
  reply.transport = TransportOf(result, e, transfer);
  if (reply.transport != RdapTransport::Ok) return reply;
  curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &reply.httpStatus);
  curl_off_t retryAfter = 0;
  if (curl_easy_getinfo(e, CURLINFO_RETRY_AFTER, &retryAfter) == CURLE_OK && retryAfter > 0) {
    reply.retryAfter = retryAfter;
  }
  reply.body = std::move(transfer.body);
  return reply;
}

}  // namespace

RdapReply ExchangeRdap(const std::string& url, const RunToken& token,
                       const RdapExchangeLimits& limits) {
  static std::once_flag initialised;
  std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  for (int retry = 0;; ++retry) {
    RdapReply reply = Get(url, token, limits);
    if (reply.transport != RdapTransport::Ok || reply.httpStatus != 429) return reply;
    // A server that names no time is given one second.
    const long long wait = reply.retryAfter > 0 ? reply.retryAfter : 1;
    if (retry >= kRdapBusyRetries || wait > kRdapRetryWaitMax) return reply;
    if (!PauseUnlessCancelled(wait, token)) {
      reply.transport = RdapTransport::Cancelled;
      return reply;
    }
  }
}
