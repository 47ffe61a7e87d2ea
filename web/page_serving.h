// Answers a request from the page record its session looked up: a page
// template, a file, or a command page (which runs a posted command with
// full privileges and shows its response template).
#ifndef HOVANTRA_WEB_PAGE_SERVING_H
#define HOVANTRA_WEB_PAGE_SERVING_H

#include "net/http_message.h"
#include "net/http_request_parser.h"
#include "util/script_variable.h"

class HttpServerSession;

void ServePage(HttpServerSession *session, OVKHttpRequestParser &request);

// The command line of a posted form: the field "command", else the fields
// cmd0, cmd1, ... up to the first missing one, each followed by a blank.
ScriptVariable FormCommandLine(const HttpFormFields &fields);

// True when the request comes from another site: a Sec-Fetch-Site other
// than same-origin or none, an Origin of "null", or a page (Origin, else
// Referer) of another host than its Host header.  Such command posts are
// refused with 403; a request with none of these headers is not refused.
bool IsCrossSitePost(const OVKHttpMessage &request);

#endif
