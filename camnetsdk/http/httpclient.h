// What every libcurl transfer to a camera shares: plain HTTP with Digest and
// the login's credentials, no proxy, no signals, and a perform that tries to
// connect as often as CamNet_SetConnectTime allows, all within one deadline
// per SDK call, so that no retry adds time of its own.
#ifndef HTTPCLIENT_H
#define HTTPCLIENT_H

#include <curl/curl.h>

#include <chrono>
#include <string>

namespace HttpClient {

using Deadline = std::chrono::steady_clock::time_point;

// When a call starting now must have returned: the connect bound (wait
// times tries) plus the request timeout.
Deadline callDeadline();

// The options that stay on a handle for its lifetime; the strings must
// outlive the handle.
void configure(CURL *curl, const std::string &user, const std::string &password);

// curl_easy_perform, again while the camera cannot be connected to, as long
// as the deadline allows; CURLE_OPERATION_TIMEDOUT once it has passed.
CURLcode perform(CURL *curl, Deadline deadline);

} // namespace HttpClient

#endif // HTTPCLIENT_H
