// The server's own content-type table.
#include "http/ContentTypes.h"

#include <gtest/gtest.h>

using namespace quenloft;

namespace {

TEST(ContentTypes, TheServersOwnTable) {
    std::pair<const char*, const char*> cases[] = {
        {"JPG", "image/jpeg"},
        {"PNG", "image/x-PNG"},
        {"pdf", "application/pdf"},
        {"mpg", "movie/mpeg"},
        {"exe", "application/exe"},
        {"Htm", "text/html"},
        {"txt", ""},
        {"", ""},
    };
    for (const auto& [ext, type] : cases) {
        EXPECT_EQ(TableContentType(ext), type) << ext;
    }
}

} // namespace
