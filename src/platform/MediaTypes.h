// The system's media-type database (/etc/mime.types): the type of a file-name extension
// for the extensions the server's own table does not know.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quenloft::mediatypes {

// Extension (lower case, without the dot) to media type, from the text of a mime.types
// file: "type ext1 ext2 ..." per line, "#" starts a comment. The first line naming an
// extension wins.
std::unordered_map<std::string, std::string> ParseMediaTypes(std::string_view text);

// The media type of `extension` (compared lower-cased) in /etc/mime.types, read once;
// empty when the database lacks it or cannot be read. Never fails.
std::string LookupMediaType(std::string_view extension);

} // namespace quenloft::mediatypes
