// A temporary folder for a test, removed with everything in it when the test ends.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdlib.h>
#include <string>
#include <sys/time.h>

namespace quenloft::testing {

class TempFolder {
public:
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quenloft-test-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

    // Writes a file below the folder, creating its parent folders.
    std::string Write(const std::string& name, const std::string& bytes) const {
        std::filesystem::path file = std::filesystem::path(path_) / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << bytes;
        return file.string();
    }

    std::string MakeFolder(const std::string& name) const {
        std::filesystem::create_directories(std::filesystem::path(path_) / name);
        return *this / name;
    }
    // Sets the modification time of an entry (seconds since 1970).
    void Touch(const std::string& name, time_t when) const {
        struct timeval times[2] = {{when, 0}, {when, 0}};
        ::utimes((*this / name).c_str(), times);
    }

    static std::string Read(const std::string& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    std::string path_;
};

} // namespace quenloft::testing
