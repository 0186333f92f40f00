// Content types: the server's own table of media types by extension, and which are text.
#pragma once

#include <string>
#include <string_view>

namespace quenloft {

// The media type of an extension from the server's own table; empty when not listed.
std::string TableContentType(std::string_view extension);

// A media type of text, which a browser reads in some character set: "text/...",
// JavaScript, JSON and XML ones.
bool IsTextType(std::string_view type);

} // namespace quenloft
