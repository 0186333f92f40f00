// URL coding over single bytes: of form fields, and of paths, where "+" is itself.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace quenloft {

// `safeChars` flags the bytes the encoders copy unchanged. EncodeURL and DecodeURL follow
// the rule of form fields (a space is "+"); in a path "+" is an ordinary character, so
// EncodePath writes a space as "%20" and DecodePath keeps "+".
std::string EncodeURL(std::string_view text, std::span<const bool> safeChars);
std::string DecodeURL(std::string_view url);
std::string EncodePath(std::string_view text, std::span<const bool> safeChars);
std::string DecodePath(std::string_view path);
// EncodePath appending to `out`, for a page built link by link.
void AppendEncodedPath(std::string& out, std::string_view text, std::span<const bool> safeChars);

} // namespace quenloft
