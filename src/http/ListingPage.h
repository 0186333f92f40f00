// The listing page: a folder's entries, as the caller read them, as one page of HTML.
#pragma once

#include "platform/Folder.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quenloft {

// What the listing page shows besides the folder's entries.
struct ListingRequest {
    std::string Target;    // the request target as the client sent it
    std::string Folder;    // the local folder, ending with "/"
    double ParentDate = 0; // last modification of the folder that holds Folder
    bool ShowDate = false;
    bool ShowSize = false;
    std::string HostName; // named in the footer with the port
    int32_t Port = 0;
};
// The listing page of `entries`, in their order; it reads nothing but what it is given.
// `safeChars` flags the bytes that links keep unescaped.
std::string ListingPage(const ListingRequest& request,
                        const std::vector<folder::FolderEntry>& entries,
                        std::span<const bool> safeChars);

// A file name or target as page text in pure ASCII, so that every browser shows it right
// whatever character set it guesses. A valid UTF-8 sequence is one character, any other byte
// one character of ISO-8859-1; "&", quotes and angle brackets become entities, every
// character outside printable ASCII a numeric character reference ("&#233;").
std::string HtmlEscape(std::string_view text);

} // namespace quenloft
