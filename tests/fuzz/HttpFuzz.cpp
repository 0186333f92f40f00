// Feeds arbitrary received bytes, split at arbitrary points, through a connection's request
// handling (framing, bounds, parsing, target mapping, listing, error answers) with send
// completions in between. It must never crash, hold more than the head bound unanswered,
// or let an exception escape. The first byte of the input chooses the split points. The
// same bytes, read as a Range value, must give a range inside the file or none.
#include "http/ByteRange.h"
#include "http/RequestFraming.h"
#include "http/clsHTTP.h"
#include "platform/ProcessSettings.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

using namespace quenloft;

namespace quenloft {
// Places a connection in the server's table as its accepting would.
struct ServerInternals {
    static void Place(clsHTTP& server, const std::shared_ptr<clsConnection>& C) {
        server.connections_ = {C};
    }
};
} // namespace quenloft

namespace {

clsSettings settings;
clsSettings statistics;
clsLog logFile;

// A served folder with a file, an index file, a subfolder and a hidden file.
void PrepareOnce() {
    static bool done = [] {
        auto root = std::filesystem::temp_directory_path() / "quenloft-http-fuzz";
        std::filesystem::create_directories(root / "sub");
        std::ofstream(root / "a.txt") << std::string(3000, 'a');
        std::ofstream(root / "t.txt") << "caf\xC3\xA9 " << std::string(2000, 't');
        std::ofstream(root / "sub" / "index.html") << "<p>";
        std::ofstream(root / "sub" / "b c.txt") << "b";
        std::ofstream(root / ".hidden") << "h";
        settings.SetVariableValue(Variant("IndexPath"), Variant(root.string()));
        settings.SetVariableValue(Variant("IndexNames"), Variant::Array({Variant("index.html")}));
        settings.SetVariableValue(Variant("DLShowDate"), Variant(int16_t(1)));
        settings.SetVariableValue(Variant("DLShowSize"), Variant(int16_t(1)));
        logFile.SetFileName(""); // log lines are attempted and fail quietly
        return true;
    }();
    (void)done;
}

void CheckRange(std::string_view value, int64_t size) {
    ByteRange range = ParseRange(value, size);
    if (range.Answer == ByteRange::Part &&
        (range.First < 0 || range.First > range.Last || range.Last >= size)) {
        __builtin_trap();
    }
}

} // namespace

// The server's process-wide settings, as its start-up makes them.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetProcessWide();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PrepareOnce();
    if (size == 0) {
        return 0;
    }
    static clsHTTP server(settings, statistics, logFile);
    auto C = std::make_shared<clsConnection>();
    C->Socket = std::make_shared<clsSocket>();
    C->Trapper = &server;
    ServerInternals::Place(server, C);

    uint32_t split = data[0] | 1u;
    std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    for (int64_t fileSize : {int64_t(0), int64_t(1), int64_t(3000), int64_t(5) << 30}) {
        CheckRange(bytes, fileSize);
    }
    while (!bytes.empty()) {
        split = split * 1103515245u + 12345u;
        size_t piece = std::min<size_t>(bytes.size(), 1 + (split >> 16) % 97);
        server.ReceiveData(*C, bytes.substr(0, piece));
        bytes.remove_prefix(piece);
        if (C->Buffer.size() > MaxRequestHead) {
            __builtin_trap();
        }
        server.SocketEvent(0, SocketEventType::OnSendComplete, {});
    }
    server.SocketEvent(0, SocketEventType::OnClose, {});
    if (server.Connections()[0] != nullptr) {
        __builtin_trap();
    }
    return 0;
}
