// The contents of small files kept between answers, on real files and through the server on
// 127.0.0.1: whatever happens to a file, its answer is what opening the file would give,
// and contents are kept only when that is certain.
#include "http/FileCache.h"

#include "LoopbackClient.h"
#include "ServerFixture.h"
#include "http/clsHTTP.h"
#include "support/TempFolder.h"

#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

using namespace quenloft;
using quenloft::testing::LoopbackClient;
using quenloft::testing::RunPasses;
using quenloft::testing::RunUntil;
using quenloft::testing::TempFolder;

namespace {

std::string Pattern(size_t size, int seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + static_cast<size_t>(seed) * 13) % 256);
    }
    return bytes;
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

constexpr size_t Most = FileCache::MostFileBytes; // the largest file kept

// The files the suite keeps, with their sizes; each test changes only its own.
const std::pair<const char*, size_t> AgedFiles[] = {
    {"a.bin", 3000},         {"max.bin", Most},       {"over.bin", Most + 1},
    {"empty.bin", 0},        {"same.bin", 2000},      {"restored.bin", 2000},
    {"short.bin", 5000},     {"zero.bin", 5000},      {"replaced.bin", 4000},
    {"one.dat", 1500},       {"two.dat", 1500},       {"folder.bin", 1000},
    {"gone.bin", 1000},      {"grow.bin", 1000},      {"hid.bin", 1000},
    {"mode.bin", 1000},      {"snapshot.bin", Most},  {"forgotten.bin", 100},
    {"unit/small.bin", 100}, {"unit/big.bin", 70000},
};
// Files of the largest kept size: more than all kept contents together may take.
constexpr int BudgetFiles = FileCache::MostBytes / Most + 6;

// A file's change time cannot be set back, so the files are made once and the suite waits
// until their last change lies far enough back for their contents to be kept.
class KeptFiles : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        aged = new TempFolder;
        int seed = 0;
        for (const auto& [name, size] : AgedFiles) {
            aged->Write(std::string("www/") + name, Pattern(size, ++seed));
        }
        for (int i = 0; i < BudgetFiles; ++i) {
            aged->Write("budget/" + std::to_string(i) + ".bin", Pattern(Most, i));
        }
        // Two files alike in size and times, a link to the first.
        aged->Touch("www/one.dat", 1000000000);
        aged->Touch("www/two.dat", 1000000000);
        ::symlink("one.dat", (*aged / "www/link.bin").c_str());
        ASSERT_TRUE(WaitUntilSettled());
    }
    static void TearDownTestSuite() {
        delete aged;
        aged = nullptr;
    }

    static bool WaitUntilSettled() {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (const auto& entry : std::filesystem::recursive_directory_iterator(aged->Path())) {
            struct stat st {};
            ::lstat(entry.path().c_str(), &st);
            while (std::time(nullptr) - st.st_ctim.tv_sec <= 3) {
                if (std::chrono::steady_clock::now() > deadline) {
                    return false;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        }
        return true;
    }

    void SetUp() override {
        settings.SetVariableValue(Variant("IndexPath"), Variant(*aged / "www"));
        log.SetFileName(logs / "Log.dat");
        server.StartServer(0);
        port = server.PrimarySocket()->LocalPort();
    }
    void TearDown() override { nothingLeftOpen.Check(server, log); }

    std::string Path(const std::string& name) { return *aged / ("www/" + name); }
    std::string Fetch(const std::string& name) {
        LoopbackClient client(port);
        client.Send("GET /" + name + " HTTP/1.1\r\nHost: x\r\n\r\n");
        return client.ReadAnswer();
    }
    // What the server answers when it opens the file: its bytes when opening works, else
    // the 404 page.
    static std::string Plain(const std::string& path) {
        int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
        struct stat st {};
        bool served = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                      std::filesystem::path(path).filename().string()[0] != '.';
        if (fd >= 0) {
            ::close(fd);
        }
        return served ? "200 " + TempFolder::Read(path) : "404";
    }
    // The status and body of an answer in the same form.
    static std::string Got(const std::string& answer) {
        size_t body = answer.find("\r\n\r\n");
        if (answer.starts_with("HTTP/1.1 404 ")) {
            return "404";
        }
        if (!answer.starts_with("HTTP/1.1 200 ") || body == std::string::npos) {
            return "unexpected: " + answer.substr(0, 40);
        }
        return "200 " + answer.substr(body + 4);
    }
    // Descriptors of this process open on `path`.
    static int DescriptorsOn(const std::string& path) {
        int count = 0;
        for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code ignored;
            count += std::filesystem::read_symlink(fd.path(), ignored) == path;
        }
        return count;
    }
    int32_t Statistic(const char* key) { return statistics.VariableValue(Variant(key)).ToLong(); }

    static TempFolder* aged;
    quenloft::testing::NothingLeftOpen nothingLeftOpen; // before anything of the test is opened
    TempFolder logs;
    clsSettings settings;
    clsSettings statistics;
    clsLog log;
    clsHTTP server{settings, statistics, log};
    int port = 0;
};

TempFolder* KeptFiles::aged = nullptr;

// Root reads every file whatever its mode; without these two capabilities it obeys the
// mode bits as any other user does. Capabilities belong to a thread, and the server runs
// in the test's own.
class WithoutFileOverrides {
public:
    WithoutFileOverrides() {
        ::syscall(SYS_capget, &header_, saved_);
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        ::syscall(SYS_capset, &header_, reduced);
    }
    ~WithoutFileOverrides() { ::syscall(SYS_capset, &header_, saved_); }

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2] = {};
};

// Kept contents answer exactly as the file does, piece by piece, counted the same, and
// never hold a descriptor; a file over the bound is never kept.
TEST_F(KeptFiles, KeptContentsAnswerAsTheFileDoes) {
    const char* names[] = {"a.bin", "max.bin", "over.bin", "empty.bin"};
    int64_t total = 0;
    for (int round = 0; round < 3; ++round) {
        for (const char* name : names) {
            EXPECT_EQ(Got(Fetch(name)), Plain(Path(name))) << name;
            if (std::string(name) == "over.bin") { // its descriptor goes with its last piece
                EXPECT_TRUE(RunUntil([&] { return DescriptorsOn(Path(name)) == 0; }));
            } else {
                EXPECT_EQ(DescriptorsOn(Path(name)), 0) << name;
            }
            total += static_cast<int64_t>(std::filesystem::file_size(Path(name)));
        }
        EXPECT_EQ(server.KeptFiles().KeptFiles(), 3u); // all but over.bin
    }
    EXPECT_EQ(server.KeptFiles().KeptBytes(), 3000u + Most);
    EXPECT_EQ(Statistic("RequestsOK"), 12);
    EXPECT_EQ(statistics.VariableValue(Variant("BytesSend")).ToDouble(), double(total));
}

// Whatever happens to a kept file, the next answer is what opening the file gives.
TEST_F(KeptFiles, EveryChangeToAKeptFileIsSeen) {
    auto rewrite = [](const std::string& path, const std::string& bytes) {
        int fd = ::open(path.c_str(), O_WRONLY); // in place: same inode
        ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
        ::close(fd);
    };
    struct Change {
        const char* Name;
        std::function<void(const std::string& path)> Make;
    };
    std::vector<Change> changes = {
        {"same.bin", [&](const std::string& p) { rewrite(p, Pattern(2000, 99)); }},
        {"restored.bin",
         [&](const std::string& p) {
             struct stat before {};
             ::stat(p.c_str(), &before);
             rewrite(p, Pattern(2000, 98));
             timespec times[2] = {before.st_atim, before.st_mtim}; // as a copy tool does
             ::utimensat(AT_FDCWD, p.c_str(), times, 0);
         }},
        {"short.bin", [](const std::string& p) { ::truncate(p.c_str(), 10); }},
        {"zero.bin", [](const std::string& p) { ::truncate(p.c_str(), 0); }},
        {"replaced.bin",
         [](const std::string& p) {
             struct stat before {};
             ::stat(p.c_str(), &before);
             WriteFile(p + ".new", Pattern(4000, 97)); // same size and times
             timespec times[2] = {before.st_atim, before.st_mtim};
             ::utimensat(AT_FDCWD, (p + ".new").c_str(), times, 0);
             std::filesystem::rename(p + ".new", p);
         }},
        {"link.bin",
         [](const std::string& p) {
             std::filesystem::remove(p);
             std::filesystem::create_symlink("two.dat", p);
         }},
        {"folder.bin",
         [](const std::string& p) {
             std::filesystem::remove(p);
             std::filesystem::create_directory(p);
         }},
        {"gone.bin", [](const std::string& p) { std::filesystem::remove(p); }},
        {"grow.bin",
         [](const std::string& p) {
             WriteFile(p, TempFolder::Read(p) + Pattern(69000, 96)); // past the bound
         }},
        {"hid.bin",
         [](const std::string& p) {
             std::filesystem::rename(p, std::filesystem::path(p).parent_path() / ".hid.bin");
         }},
        {"mode.bin", [](const std::string& p) { ::chmod(p.c_str(), 0); }},
    };
    for (const Change& change : changes) {
        ASSERT_EQ(Got(Fetch(change.Name)), Plain(Path(change.Name))) << change.Name;
    }
    ASSERT_EQ(server.KeptFiles().KeptFiles(), changes.size());
    WithoutFileOverrides asAnyUser;
    for (const Change& change : changes) {
        change.Make(Path(change.Name));
        std::string expected = Plain(Path(change.Name));
        EXPECT_EQ(Got(Fetch(change.Name)), expected) << change.Name;
        EXPECT_EQ(Got(Fetch(change.Name)), expected) << change.Name << " again";
    }
    EXPECT_EQ(Plain(Path("mode.bin")), "404"); // the case is a real one
    EXPECT_EQ(Got(Fetch(".hid.bin")), "404");
}

// A file changed within the last moments is never kept: a second change within the
// granularity of its times would leave them as they were.
TEST_F(KeptFiles, AFileChangedJustNowIsNotKept) {
    std::string path = Path("fresh.bin");
    for (int seed = 1; seed <= 3; ++seed) {
        WriteFile(path, Pattern(3000, seed)); // the same size every time
        EXPECT_EQ(Got(Fetch("fresh.bin")), "200 " + Pattern(3000, seed));
        EXPECT_EQ(server.KeptFiles().KeptFiles(), 0u);
    }
}

// An answer from kept contents is the file as it was when the answer began, even when the
// contents are forgotten or the file shrinks while the answer is on its way.
TEST_F(KeptFiles, AnAnswerFromMemoryIsTheFileAsItBegan) {
    std::string whole = Fetch("snapshot.bin");
    ASSERT_EQ(Got(whole), Plain(Path("snapshot.bin")));
    LoopbackClient slow(port, 4096);
    slow.Send("GET /snapshot.bin HTTP/1.1\r\nHost: x\r\n\r\n");
    std::string got = slow.Read(100);
    ::truncate(Path("snapshot.bin").c_str(), 100);
    server.KeptFiles().Clear();
    got += slow.Read(whole.size() - got.size());
    EXPECT_EQ(got, whole);
    EXPECT_EQ(Got(Fetch("snapshot.bin")), Plain(Path("snapshot.bin")));
}

// Contents nobody asks for are forgotten by the program's loop.
TEST_F(KeptFiles, ContentsNotAskedForAreForgotten) {
    ASSERT_EQ(Got(Fetch("forgotten.bin")), Plain(Path("forgotten.bin")));
    ASSERT_EQ(server.KeptFiles().KeptFiles(), 1u);
    server.KeptFiles().KeepFor(std::chrono::milliseconds(0));
    EXPECT_TRUE(RunUntil([&] { return server.KeptFiles().KeptFiles() == 0; }));
    EXPECT_EQ(server.KeptFiles().KeptBytes(), 0u);
}

// The cache on its own: only small regular files are kept, and all kept contents together
// stay within their bound.
TEST_F(KeptFiles, OnlySmallRegularFilesAndABoundedTotal) {
    FileCache cache;
    auto keep = [&](const std::string& path) {
        int fd = ::open(path.c_str(), O_RDONLY);
        struct stat st {};
        ::fstat(fd, &st);
        FileCache::Contents kept = cache.Keep(path, fd, st);
        ::close(fd);
        return kept;
    };
    EXPECT_NE(keep(*aged / "www/unit/small.bin"), nullptr);
    EXPECT_EQ(keep(*aged / "www/unit/big.bin"), nullptr);
    EXPECT_EQ(keep(*aged / "www/unit"), nullptr);
    EXPECT_EQ(cache.KeptFiles(), 1u);
    for (int i = 0; i < BudgetFiles; ++i) {
        std::string path = *aged / ("budget/" + std::to_string(i) + ".bin");
        ASSERT_NE(keep(path), nullptr);
        EXPECT_NE(cache.Find(path), nullptr);
        EXPECT_LE(cache.KeptBytes(), FileCache::MostBytes);
    }
    std::string last = *aged / ("budget/" + std::to_string(BudgetFiles - 1) + ".bin");
    ASSERT_NE(cache.Find(last), nullptr);
    EXPECT_EQ(*cache.Find(last), Pattern(Most, BudgetFiles - 1));
}

} // namespace
