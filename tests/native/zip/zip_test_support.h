// Shared helpers of the native zip tests: temporary directories, files, trees and commands.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

namespace ziptest {

namespace fs = std::filesystem;

// A fresh directory under the system temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& data);
std::string randomBytes(std::size_t size, std::uint32_t seed);
std::string textBytes(std::size_t size);

// Relative path -> contents ("/" suffix and empty contents for directories).
using Tree = std::map<std::string, std::string>;
Tree readTree(const fs::path& root);
bool isEmptyDirectory(const fs::path& path);

// Runs a shell command; returns its exit status and, if asked, its standard output.
int run(const std::string& command, std::string* output = nullptr);
std::string quoted(const std::string& text);

std::string zipToolsScript();

}  // namespace ziptest
