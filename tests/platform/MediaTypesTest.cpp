// The system media-type database: its file format, and lookups when it is installed.
#include "platform/MediaTypes.h"

#include <gtest/gtest.h>

using namespace quenloft;

namespace {

TEST(MediaTypes, ParsedFromTheDatabaseFormatAndLookedUp) {
    auto types = mediatypes::ParseMediaTypes("# txt\ntext/plain\t\ttxt TEXT\r\n"
                                             "application/x-other txt zz # zzz\n");
    EXPECT_EQ(types,
              (std::unordered_map<std::string, std::string>{
                  {"txt", "text/plain"}, {"text", "text/plain"}, {"zz", "application/x-other"}}));
    if (!mediatypes::LookupMediaType("txt").empty()) { // the media-types package is installed
        EXPECT_EQ(mediatypes::LookupMediaType("TXT"), "text/plain");
        EXPECT_EQ(mediatypes::LookupMediaType("old/README"), "");
    }
}

} // namespace
