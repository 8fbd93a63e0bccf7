#include "posix_zip_io.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace ziptest {
namespace {

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

private:
    int fd_;
};

bool convert(const char* to, const char* from, const std::string& in, std::string& out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    out.assign(in.size() * 4 + 4, '\0');
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    char* outPtr = &out[0];
    std::size_t outLeft = out.size();
    const bool ok = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1) && inLeft == 0;
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return ok;
}

std::string utf8Of(const std::u16string& text) {
    std::string bytes(reinterpret_cast<const char*>(text.data()), text.size() * 2), utf8;
    convert("UTF-8", "UTF-16LE", bytes, utf8);
    return utf8;
}

class FileSource : public zipcore::RewindableSource {
public:
    explicit FileSource(const std::string& path) : fd_(open(path.c_str(), O_RDONLY)) {}
    bool valid() const { return fd_.valid(); }
    std::uint64_t size() const {
        struct stat st {};
        return fstat(fd_.get(), &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    }
    bool read(std::uint8_t* buffer, std::size_t capacity, std::size_t& got) override {
        const ssize_t n = ::read(fd_.get(), buffer, capacity);
        got = n > 0 ? static_cast<std::size_t>(n) : 0;
        return n >= 0;
    }
    bool rewind() override { return lseek(fd_.get(), 0, SEEK_SET) == 0; }

private:
    Descriptor fd_;
};

class NewFileSink : public zipcore::ArchiveSink {
public:
    explicit NewFileSink(const std::string& path)
        : path_(path), fd_(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644)) {}
    ~NewFileSink() override {
        if (fd_.valid() && !kept_) unlink(path_.c_str());
    }
    bool valid() const { return fd_.valid(); }
    void keep() { kept_ = true; }
    bool append(const std::uint8_t* data, std::size_t length) override {
        return ::write(fd_.get(), data, length) == static_cast<ssize_t>(length);
    }
    bool overwriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t length) override {
        return pwrite(fd_.get(), data, length, static_cast<off_t>(offset)) == static_cast<ssize_t>(length);
    }
    bool truncateTo(std::uint64_t offset) override {
        return ftruncate(fd_.get(), static_cast<off_t>(offset)) == 0 &&
               lseek(fd_.get(), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
    }

private:
    std::string path_;
    Descriptor fd_;
    bool kept_ = false;
};

class ArchiveFile : public zipcore::RandomAccessSource {
public:
    explicit ArchiveFile(const std::string& path) : fd_(open(path.c_str(), O_RDONLY)) {
        struct stat st {};
        if (fd_.valid() && fstat(fd_.get(), &st) == 0) size_ = static_cast<std::uint64_t>(st.st_size);
    }
    bool valid() const { return fd_.valid(); }
    std::uint64_t size() const override { return size_; }
    bool readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override {
        return pread(fd_.get(), buffer, length, static_cast<off_t>(offset)) == static_cast<ssize_t>(length);
    }

private:
    Descriptor fd_;
    std::uint64_t size_ = 0;
};

class ExtractedFile : public zipcore::OutputFile {
public:
    explicit ExtractedFile(int fd) : fd_(fd) {}
    bool write(const std::uint8_t* data, std::size_t length) override {
        return ::write(fd_.get(), data, length) == static_cast<ssize_t>(length);
    }
    bool finish(const zipcore::FileDetails& details) override {
        return !details.readOnly || fchmod(fd_.get(), 0444) == 0;
    }

private:
    Descriptor fd_;
};

class DirectoryTarget : public zipcore::ExtractionTarget {
public:
    explicit DirectoryTarget(std::string root) : root_(std::move(root)) {}
    bool decodeName(const std::string& raw, bool utf8, std::u16string& name) override {
        return decodeEntryName(raw, utf8, name);
    }
    bool createRoot() override { return mkdir(root_.c_str(), 0755) == 0; }
    void removeRoot() override {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    bool makeDirectories(const zipcore::PathParts& parts, std::size_t depth) override {
        std::string path = root_;
        for (std::size_t i = 0; i < depth; ++i) {
            path += "/" + utf8Of(parts[i]);
            struct stat st {};
            if (mkdir(path.c_str(), 0755) != 0 && !(lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
                return false;
        }
        return true;
    }
    std::unique_ptr<zipcore::OutputFile> createFile(const zipcore::PathParts& parts) override {
        std::string path = root_;
        for (const auto& part : parts) path += "/" + utf8Of(part);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (fd < 0) return nullptr;
        return std::make_unique<ExtractedFile>(fd);
    }

private:
    std::string root_;
};

std::string lastComponent(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

bool isAscii(const std::string& text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

}  // namespace

bool decodeEntryName(const std::string& raw, bool utf8, std::u16string& name) {
    std::string bytes;
    if (!convert("UTF-16LE", utf8 ? "UTF-8" : "CP936", raw, bytes)) return false;
    name.assign(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / 2);
    return true;
}

zipcore::Status packFile(const std::string& sourcePath, const std::string& archivePath,
                         const std::string& storedName) {
    FileSource source(sourcePath);
    if (!source.valid()) return zipcore::Status::ReadFailed;
    NewFileSink sink(archivePath);
    if (!sink.valid()) return zipcore::Status::WriteFailed;
    zipcore::NewEntry entry;
    entry.storedName = storedName.empty() ? lastComponent(sourcePath) : storedName;
    entry.utf8Name = !isAscii(entry.storedName);
    entry.dosTime = 0x6000;  // 12:00:00
    entry.dosDate = 0x5A21;  // 2025-01-01
    entry.size = source.size();
    const zipcore::Status status = zipcore::writeSingleEntryArchive(source, entry, sink);
    if (status == zipcore::Status::Ok) sink.keep();
    return status;
}

zipcore::Status extractFile(const std::string& archivePath, const std::string& destDir, std::uint32_t& count,
                            const zipcore::Limits& limits) {
    ArchiveFile archive(archivePath);
    if (!archive.valid()) return zipcore::Status::ReadFailed;
    DirectoryTarget target(destDir);
    return zipcore::extractArchive(archive, target, limits, count);
}

zipcore::Status inspectFile(const std::string& archivePath, std::vector<zipcore::PathParts>& files,
                            const zipcore::Limits& limits) {
    ArchiveFile archive(archivePath);
    if (!archive.valid()) return zipcore::Status::ReadFailed;
    struct Names : zipcore::NameDecoder {
        bool decodeName(const std::string& raw, bool utf8, std::u16string& name) override {
            return decodeEntryName(raw, utf8, name);
        }
    } names;
    return zipcore::inspectArchive(archive, names, limits, files);
}

}  // namespace ziptest
