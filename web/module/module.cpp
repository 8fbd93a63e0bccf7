// The WebAssembly face of the portable core: plain C functions over linear memory, called by the
// SDK's engine (web/sdk/engine/engine.js). No zlib and no crypto library: deflate is the browser's own,
// the certificate is read by sm2cert, the digests are the core's.
//
// Conventions: pointers are offsets into the module's memory, lengths are bytes (UTF-16 units for
// names); 64-bit sizes travel as doubles (exact below 2^53). The one import, env.tw_read_at, lets
// the inspection of an archive read the picked file at any offset (synchronously, from the worker).
// The module exports exactly the functions marked EXPORT below: build.sh reads its list from here.
#include "base64.h"
#include "crc32.h"
#include "hashclass.h"
#include "inflate.h"
#include "names.h"
#include "ovalon.h"
#include "sm2_z.h"
#include "sm2cert.h"
#include "sm2verify.h"
#include "typeprobe.h"
#include "zip/ziparchive.h"
#include "zip/zipcore.h"
#include "zip/ziplisting.h"
#include "zip/ziprecords.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#define EXPORT extern "C" __attribute__((used, visibility("default")))

extern "C" int tw_read_at(double offset, unsigned char* buffer, int length)
    __attribute__((import_module("env"), import_name("tw_read_at")));

namespace {

// The crypto engine's status values for a certificate (see src/interfaces/ovalon.h).
int EngineStatus(sm2cert::Status status) {
    switch (status) {
    case sm2cert::Status::Ok: return OVALON_OK;
    case sm2cert::Status::NoCertificate: return OVALON_E_NO_CERTIFICATE;
    case sm2cert::Status::BadBase64: return OVALON_E_BAD_BASE64;
    case sm2cert::Status::BadCertificate: return OVALON_E_BAD_CERTIFICATE;
    case sm2cert::Status::NotSm2Key: return OVALON_E_NOT_SM2_KEY;
    case sm2cert::Status::BadPublicKey: return OVALON_E_BAD_PUBLIC_KEY;
    }
    return OVALON_E_CRYPTO;
}

// A digest's context: its class and, after this header, the memory the class sized.
struct DigestContext {
    const digest::HashClass* kind;

    static DigestContext* Make(int index) {
        const digest::HashClass* c = digest::HashAt(index);
        if (!c) return nullptr;
        void* block = std::malloc(kHeader + c->contextSize);
        if (!block) return nullptr;
        DigestContext* h = new (block) DigestContext{c};
        c->init(h->memory());
        return h;
    }
    static void Free(DigestContext* h) {
        if (!h) return;
        h->kind->destroy(h->memory());
        std::free(h);
    }
    void* memory() { return reinterpret_cast<unsigned char*>(this) + kHeader; }

    static constexpr std::size_t kHeader = alignof(std::max_align_t) > sizeof(void*) ? alignof(std::max_align_t) : sizeof(void*);
};

// A base64 text decoded a piece at a time, and what it gave so far.
struct Base64Text {
    base64::Decoder decoder;
    std::vector<unsigned char> bytes;
};

class MemorySource : public probe::ByteSource {
public:
    MemorySource(const unsigned char* data, std::size_t length) : data_(data), left_(length) {}
    std::size_t Read(unsigned char* buffer, std::size_t capacity) override {
        const std::size_t n = capacity < left_ ? capacity : left_;
        std::memcpy(buffer, data_, n);
        data_ += n;
        left_ -= n;
        return n;
    }

private:
    const unsigned char* data_;
    std::size_t left_;
};

class PickedFile : public zipcore::RandomAccessSource {
public:
    explicit PickedFile(double size) : size_(static_cast<std::uint64_t>(size)) {}
    std::uint64_t size() const override { return size_; }
    bool readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override {
        return tw_read_at(static_cast<double>(offset), buffer, static_cast<int>(length)) ==
               static_cast<int>(length);
    }

private:
    std::uint64_t size_;
};

// Names as the control's unpacking sees them: UTF-8 when flagged, else code page 936. Only the
// checks of entryname.h look at the result, and all of them concern ASCII characters, so a
// double-byte character of the code page is kept as one stand-in character (its trail byte may
// look like '\' and must not split the name).
class EntryNames : public zipcore::NameDecoder {
public:
    bool decodeName(const std::string& raw, bool utf8, std::u16string& name) override {
        name.clear();
        for (std::size_t i = 0; i < raw.size();) {
            const unsigned char c = static_cast<unsigned char>(raw[i]);
            if (c < 0x80) {
                name.push_back(c);
                ++i;
                continue;
            }
            std::size_t extra;
            if (utf8) {
                extra = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 0;
                if (extra == 0 || i + extra >= raw.size()) return false;
                for (std::size_t k = 1; k <= extra; ++k)
                    if ((static_cast<unsigned char>(raw[i + k]) & 0xC0) != 0x80) return false;
            } else {
                if (c == 0x80 || c == 0xFF || i + 1 >= raw.size()) return false;
                const unsigned char t = static_cast<unsigned char>(raw[i + 1]);
                if (t < 0x40 || t == 0x7F || t == 0xFF) return false;
                extra = 1;
            }
            name.push_back(0x4E00);
            i += extra + 1;
        }
        return true;
    }
};

bool IsWorkbookPart(const zipcore::PathParts& parts) {
    auto same = [](const std::u16string& a, const char* b) {
        if (a.size() != std::strlen(b)) return false;
        for (std::size_t i = 0; i < a.size(); ++i) {
            char16_t c = a[i];
            if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
            if (c != static_cast<unsigned char>(b[i])) return false;
        }
        return true;
    };
    return parts.size() == 2 && same(parts[0], "xl") && same(parts[1], "workbook.xml");
}

zipcore::NewEntry EntryOf(const char* name, int nameLength, int utf8, int dosTime, int dosDate, double size) {
    zipcore::NewEntry entry;
    entry.storedName.assign(name, static_cast<std::size_t>(nameLength));
    entry.utf8Name = utf8 != 0;
    entry.dosTime = static_cast<std::uint16_t>(dosTime);
    entry.dosDate = static_cast<std::uint16_t>(dosDate);
    entry.size = static_cast<std::uint64_t>(size);
    return entry;
}

zipcore::EntryData DataOf(int method, unsigned crc, double compressedSize, double size) {
    zipcore::EntryData data;
    data.method = static_cast<std::uint16_t>(method);
    data.crc = crc;
    data.compressedSize = static_cast<std::uint64_t>(compressedSize);
    data.size = static_cast<std::uint64_t>(size);
    return data;
}

int CopyOut(const std::vector<std::uint8_t>& bytes, unsigned char* out, int capacity) {
    if (static_cast<int>(bytes.size()) > capacity) return -1;
    std::memcpy(out, bytes.data(), bytes.size());
    return static_cast<int>(bytes.size());
}

}  // namespace

// ---- memory ----------------------------------------------------------------------------------

EXPORT void* tw_alloc(int size) { return std::malloc(static_cast<std::size_t>(size)); }
EXPORT void tw_free(void* p) { std::free(p); }

// ---- digests ----------------------------------------------------------------------------------

// Every digest through its class record: a kind is a row of the core's table (digest::HashAt),
// which the SDK looks up by name.
EXPORT int tw_digest_count() { return digest::HashCount(); }
// The kind's name (NUL-terminated, lower case), or null beyond the table.
EXPORT const char* tw_digest_name(int kind) {
    const digest::HashClass* c = digest::HashAt(kind);
    return c ? c->name : nullptr;
}
// Bytes of the kind's result, and of its saved state (0 beyond the table).
EXPORT int tw_digest_size(int kind) {
    const digest::HashClass* c = digest::HashAt(kind);
    return c ? static_cast<int>(c->digestSize) : 0;
}
EXPORT int tw_digest_state_size(int kind) {
    const digest::HashClass* c = digest::HashAt(kind);
    return c ? static_cast<int>(c->stateSize) : 0;
}
// A context for a new message of the kind, or null (no such kind, no memory).
EXPORT DigestContext* tw_digest_new(int kind) { return DigestContext::Make(kind); }
EXPORT void tw_digest_update(DigestContext* h, const unsigned char* data, int length) {
    h->kind->update(h->memory(), data, static_cast<std::size_t>(length));
}
// Writes the digest (tw_digest_size bytes); the context starts a new message.
EXPORT void tw_digest_final(DigestContext* h, unsigned char* out) { h->kind->final(h->memory(), out); }
// Writes the state (tw_digest_state_size bytes) from which tw_digest_load continues the message.
EXPORT void tw_digest_save(DigestContext* h, unsigned char* out) { h->kind->save(h->memory(), out); }
// 1 when the context now continues the saved message; 0 (the context as new) when the bytes are
// not a state of this kind.
EXPORT int tw_digest_load(DigestContext* h, const unsigned char* state, int length) {
    return h->kind->load(h->memory(), state, static_cast<std::size_t>(length)) ? 1 : 0;
}
EXPORT void tw_digest_delete(DigestContext* h) { DigestContext::Free(h); }

// Feeds the Z value of the certificate (base64 text) into the context, as the crypto engine does
// before the message of an SM3 digest; returns the engine's status for the certificate. With
// `publicKey` non-null the 64 bytes x || y are written there.
EXPORT int tw_digest_begin_z(DigestContext* h, const char* text, int length, unsigned char* publicKey) {
    sm2cert::Point key;
    const sm2cert::Status status = sm2cert::KeyFromBase64Certificate(text, static_cast<std::size_t>(length), key);
    if (status != sm2cert::Status::Ok) return EngineStatus(status);
    unsigned char z[32];
    digest::ComputeSm2Z(key.x, key.y, reinterpret_cast<const unsigned char*>(digest::kSm2DefaultId),
                        digest::kSm2DefaultIdLength, z);
    h->kind->update(h->memory(), z, sizeof z);
    if (publicKey) {
        std::memcpy(publicKey, key.x, 32);
        std::memcpy(publicKey + 32, key.y, 32);
    }
    return 0;
}

// ---- SM2 signatures ------------------------------------------------------------------------------

// The signer's public key into xy (x || y, 64 bytes) from `length` bytes of the given form:
// 0 the point 04 || x || y, 1 a SubjectPublicKeyInfo (DER), 2 a certificate (DER), 3 a certificate
// as base64 or PEM text. Returns 0, or 1 bytes not of that form, 2 a key that is not SM2, 3 a point
// off the curve, 4 a certificate that does not read.
EXPORT int tw_sm2_key(const unsigned char* bytes, int length, int form, unsigned char* xy) {
    const std::size_t size = static_cast<std::size_t>(length);
    if (form == 0 || form == 1) {
        const sm2::KeyStatus status = form == 0 ? sm2::ReadPoint(bytes, size, xy, xy + 32)
                                                : sm2::ReadPublicKeyInfo(bytes, size, xy, xy + 32);
        switch (status) {
            case sm2::KeyStatus::Ok: return 0;
            case sm2::KeyStatus::Malformed: return 1;
            case sm2::KeyStatus::NotSm2: return 2;
            case sm2::KeyStatus::OffCurve: return 3;
        }
        return 1;
    }
    sm2cert::Point key;
    const sm2cert::Status status =
        form == 2 ? sm2cert::KeyFromCertificate(bytes, size, key)
                  : sm2cert::KeyFromBase64Certificate(reinterpret_cast<const char*>(bytes), size, key);
    switch (status) {
        case sm2cert::Status::Ok:
            std::memcpy(xy, key.x, 32);
            std::memcpy(xy + 32, key.y, 32);
            return 0;
        case sm2cert::Status::NotSm2Key: return 2;
        case sm2cert::Status::BadPublicKey: return 3;
        default: return 4;
    }
}

// Z of the key xy for the id; 1, or 0 for an id too long for ENTL.
EXPORT int tw_sm2_z(const unsigned char* xy, const unsigned char* id, int idLength, unsigned char* z) {
    return digest::ComputeSm2Z(xy, xy + 32, id, static_cast<std::size_t>(idLength), z) ? 1 : 0;
}

// r || s (64 bytes) from a strict DER signature; 1, or 0 when it is not one.
EXPORT int tw_sm2_signature(const unsigned char* der, int length, unsigned char* rs) {
    return sm2::ReadDerSignature(der, static_cast<std::size_t>(length), rs, rs + 32) ? 1 : 0;
}

// 1 when the signature r || s holds for the digest e and the key x || y, else 0.
EXPORT int tw_sm2_verify(const unsigned char* e, const unsigned char* xy, const unsigned char* rs) {
    return sm2::Verify(e, xy, xy + 32, rs, rs + 32) ? 1 : 0;
}

EXPORT unsigned tw_crc32(unsigned crc, const unsigned char* data, int length) {
    return crc::Crc32(crc, data, static_cast<std::size_t>(length));
}

// The crypto engine's statuses for a file that did not open, and for one that did not read to its
// end: the SDK reports them where the engine would.
EXPORT int tw_engine_status_file_open() { return OVALON_E_FILE_OPEN; }
EXPORT int tw_engine_status_file_read() { return OVALON_E_FILE_READ; }

// ---- names and base64, by the control's rules --------------------------------------------------

// 1 when the name (UTF-16) stays one component of a directory.
EXPORT int tw_plain_name(const char16_t* name, int length) {
    return names::IsPlainName(std::u16string(name, static_cast<std::size_t>(length))) ? 1 : 0;
}

// 1 when the path component (UTF-16) names a device.
EXPORT int tw_device_name(const char16_t* name, int length) {
    return names::IsReservedDeviceName(std::u16string(name, static_cast<std::size_t>(length))) ? 1 : 0;
}

EXPORT Base64Text* tw_base64_new() { return new (std::nothrow) Base64Text(); }
// Feeds a piece of the text (one byte a character; any character beyond ASCII is foreign and may
// stand as any byte from 0x80 up). 0 once the text is known to be invalid.
EXPORT int tw_base64_feed(Base64Text* b, const char* text, int length) {
    return b->decoder.Feed(text, static_cast<std::size_t>(length), b->bytes) ? 1 : 0;
}
// The length of the bytes of the whole text (tw_base64_bytes), -1 when it was not valid.
EXPORT int tw_base64_finish(Base64Text* b) {
    return b->decoder.Finish(b->bytes) ? static_cast<int>(b->bytes.size()) : -1;
}
EXPORT const unsigned char* tw_base64_bytes(Base64Text* b) { return b->bytes.data(); }
EXPORT void tw_base64_delete(Base64Text* b) { delete b; }

// ---- the type probe ---------------------------------------------------------------------------

// 1 when data holds no byte from 1 to 8.
EXPORT int tw_plain_text(const unsigned char* data, int length) {
    MemorySource source(data, static_cast<std::size_t>(length));
    return probe::IsPlainText(source) ? 1 : 0;
}

// 1 when the (lower-cased, UTF-16) path names a file the probe scans as text.
EXPORT int tw_text_name(const char16_t* path, int length) {
    return probe::IsTextName(std::u16string(path, static_cast<std::size_t>(length))) ? 1 : 0;
}

// Writes the head of data as hex (at most 30 digits) and returns the digit count; *zip = 1 when
// the head opens a zip archive.
EXPORT int tw_head_hex(const unsigned char* data, int length, char* out, int* zip) {
    MemorySource source(data, static_cast<std::size_t>(length));
    const std::string head = probe::HeadHex(source);
    std::memcpy(out, head.data(), head.size());
    *zip = probe::IsZipHead(head) ? 1 : 0;
    return static_cast<int>(head.size());
}

// The probe's bounds of the unpacking: entries, and bytes unpacked.
EXPORT double tw_probe_max_entries() { return probe::kMaxArchiveEntries; }
EXPORT double tw_probe_max_bytes() { return static_cast<double>(probe::kMaxArchiveMiB) * 1024 * 1024; }

// 1 when a file of size bytes is large enough to be packed or unpacked.
EXPORT int tw_zip_archivable_size(double size) {
    return zipcore::isArchivableSize(static_cast<std::uint64_t>(size)) ? 1 : 0;
}

// The name of a zip status (NUL-terminated, in the module's memory).
EXPORT const char* tw_zip_status_name(int status) {
    return zipcore::describe(static_cast<zipcore::Status>(status));
}

// Inspects the picked file (read through env.tw_read_at) as the control's unpacking would judge
// it, within the bounds given. Returns the zip status (0 ok, else zipcore::Status), *files the
// regular files, *workbook 1 when xl/workbook.xml is one of them.
EXPORT int tw_zip_inspect(double size, double maxEntries, double maxBytes, int* files, int* workbook) {
    PickedFile file(size);
    EntryNames names;
    std::vector<zipcore::PathParts> paths;
    const zipcore::Limits limits{static_cast<std::uint64_t>(maxEntries), static_cast<std::uint64_t>(maxBytes)};
    const zipcore::Status status = zipcore::inspectArchive(file, names, limits, paths);
    *files = static_cast<int>(paths.size());
    *workbook = 0;
    for (const auto& parts : paths)
        if (IsWorkbookPart(parts)) *workbook = 1;
    return static_cast<int>(status);
}

// ---- the zip container ------------------------------------------------------------------------

// The local header of the one entry; returns its length (-1 when out is too small).
EXPORT int tw_zip_local_header(const char* name, int nameLength, int utf8, int dosTime, int dosDate,
                               double size, int method, unsigned crc, double compressedSize,
                               unsigned char* out, int capacity) {
    const zipcore::NewEntry entry = EntryOf(name, nameLength, utf8, dosTime, dosDate, size);
    return CopyOut(zipcore::localHeader(entry, DataOf(method, crc, compressedSize, size),
                                        zipcore::needsZip64(entry.size)),
                   out, capacity);
}

// The central directory and end records after the entry's data.
EXPORT int tw_zip_trailer(const char* name, int nameLength, int utf8, int dosTime, int dosDate, double size,
                          int method, unsigned crc, double compressedSize, unsigned char* out, int capacity) {
    const zipcore::NewEntry entry = EntryOf(name, nameLength, utf8, dosTime, dosDate, size);
    return CopyOut(zipcore::archiveTrailer(entry, DataOf(method, crc, compressedSize, size),
                                           zipcore::needsZip64(entry.size)),
                   out, capacity);
}

// ---- archives of many entries -----------------------------------------------------------------

// Why an entry name (UTF-16, '/' between components) cannot go into an archive: 0 when it can,
// else zipcore::ArchiveNameProblem.
EXPORT int tw_archive_name_problem(const char16_t* name, int length) {
    return static_cast<int>(zipcore::checkArchiveName(std::u16string(name, static_cast<std::size_t>(length))));
}

// 1 when an entry of this size written before its sizes are known needs 8-byte sizes.
EXPORT int tw_archive_descriptor_zip64(double size) {
    return zipcore::descriptorNeedsZip64(static_cast<std::uint64_t>(size)) ? 1 : 0;
}

// One record of an entry: kind 0 its local header, 1 its data descriptor, 2 its central directory
// record. flags: 1 UTF-8 name, 2 folder, 4 data descriptor, 8 8-byte sizes in the descriptor.
// Returns the record's length (-1 when out is too small).
EXPORT int tw_archive_record(int kind, const char* name, int nameLength, int flags, int dosTime, int dosDate,
                             int method, unsigned crc, double compressedSize, double size, double offset,
                             unsigned char* out, int capacity) {
    zipcore::ArchiveEntry entry;
    entry.storedName.assign(name, static_cast<std::size_t>(nameLength));
    entry.utf8Name = (flags & 1) != 0;
    entry.directory = (flags & 2) != 0;
    entry.descriptor = (flags & 4) != 0;
    entry.zip64Local = (flags & 8) != 0;
    entry.dosTime = static_cast<std::uint16_t>(dosTime);
    entry.dosDate = static_cast<std::uint16_t>(dosDate);
    entry.method = static_cast<std::uint16_t>(method);
    entry.crc = crc;
    entry.compressedSize = static_cast<std::uint64_t>(compressedSize);
    entry.size = static_cast<std::uint64_t>(size);
    entry.offset = static_cast<std::uint64_t>(offset);
    std::vector<std::uint8_t> record;
    if (kind == 0) record = zipcore::entryLocalHeader(entry);
    else if (kind == 1) record = zipcore::entryDataDescriptor(entry);
    else zipcore::appendCentralHeader(entry, record);
    return CopyOut(record, out, capacity);
}

// The end records after a central directory of `count` entries.
EXPORT int tw_archive_end(double count, double directoryOffset, double directorySize, unsigned char* out,
                          int capacity) {
    return CopyOut(zipcore::archiveEndRecords(static_cast<std::uint64_t>(count),
                                              static_cast<std::uint64_t>(directoryOffset),
                                              static_cast<std::uint64_t>(directorySize)),
                   out, capacity);
}

// ---- reading archives -------------------------------------------------------------------------

namespace {

// An archive being read: its listing, and the listing packed for the page.
struct OpenArchive {
    explicit OpenArchive(double size) : file(size) {}
    PickedFile file;
    zipcore::Listing listing;
    std::vector<unsigned char> packed;
};

struct Packer {
    std::vector<unsigned char>& out;
    void u8(unsigned v) { out.push_back(static_cast<unsigned char>(v)); }
    void u16(unsigned v) { u8(v & 0xFF); u8((v >> 8) & 0xFF); }
    void u32(std::uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); }
    void f64(double v) {
        unsigned char b[8];
        std::memcpy(b, &v, 8);
        out.insert(out.end(), b, b + 8);
    }
    void bytes(const std::string& s) {
        u32(static_cast<std::uint32_t>(s.size()));
        out.insert(out.end(), s.begin(), s.end());
    }
};

// The listing as the page's reader unpacks it (web/sdk/unzip/listing.js): little-endian, sizes and
// offsets as doubles, times as milliseconds since 1970 (NaN where the field is absent).
void Pack(OpenArchive& a) {
    a.packed.clear();
    Packer p{a.packed};
    p.u32(static_cast<std::uint32_t>(a.listing.entries.size()));
    p.f64(static_cast<double>(a.listing.prepended));
    p.bytes(a.listing.comment);
    for (const zipcore::ListedEntry& e : a.listing.entries) {
        const zipcore::CentralEntry& c = e.central;
        p.u16(c.madeBy);
        p.u16(c.flags);
        p.u16(c.method);
        p.u16(c.dosTime);
        p.u16(c.dosDate);
        p.u32(c.crc);
        p.u32(c.externalAttributes);
        p.f64(static_cast<double>(c.compressedSize));
        p.f64(static_cast<double>(c.size));
        p.f64(static_cast<double>(c.localOffset));
        p.f64(e.hasUnixTime ? static_cast<double>(e.unixTime) * 1000 : __builtin_nan(""));
        p.f64(e.hasNtfsTime ? static_cast<double>(e.ntfsTime / 10000) - 11644473600000.0 : __builtin_nan(""));
        p.bytes(c.name);
        p.u8(e.hasUnicodePath ? 1 : 0);
        p.bytes(e.unicodePath);
        p.bytes(e.comment);
    }
}

// Compressed bytes of one entry, read through env.tw_read_at and never past the entry's end.
class EntryInput : public rawinflate::InflateInput {
public:
    EntryInput(std::uint64_t offset, std::uint64_t length) : offset_(offset), left_(length) {}
    long read(std::uint8_t* buffer, std::size_t capacity) override {
        const std::size_t n = static_cast<std::size_t>(left_ < capacity ? left_ : capacity);
        if (n == 0) return 0;
        if (tw_read_at(static_cast<double>(offset_), buffer, static_cast<int>(n)) != static_cast<int>(n)) return -1;
        offset_ += n;
        left_ -= n;
        return static_cast<long>(n);
    }

private:
    std::uint64_t offset_, left_;
};

struct EntryInflater {
    EntryInflater(double offset, double length, bool deflate64, double bound)
        : input(static_cast<std::uint64_t>(offset), static_cast<std::uint64_t>(length)),
          inflater(input, deflate64, static_cast<std::uint64_t>(bound)) {}
    EntryInput input;
    rawinflate::Inflater inflater;
};

}  // namespace

// Lists the archive of `size` bytes read through env.tw_read_at. *status: 0, or the index of the
// failure's code (tw_unzip_code). Returns the archive (null on failure).
EXPORT OpenArchive* tw_unzip_open(double size, int* status) {
    OpenArchive* a = new (std::nothrow) OpenArchive(size);
    if (!a) {
        *status = static_cast<int>(zipcore::ReadStatus::ReadFailed);
        return nullptr;
    }
    const zipcore::ReadStatus s = zipcore::listArchive(a->file, a->listing);
    *status = static_cast<int>(s);
    if (s != zipcore::ReadStatus::Ok) {
        delete a;
        return nullptr;
    }
    Pack(*a);
    return a;
}
EXPORT const unsigned char* tw_unzip_packed(OpenArchive* a) { return a->packed.data(); }
EXPORT int tw_unzip_packed_size(OpenArchive* a) { return static_cast<int>(a->packed.size()); }
EXPORT void tw_unzip_close(OpenArchive* a) { delete a; }
// A reading status's code ('not-zip', 'overlap', ...), NUL-terminated.
EXPORT const char* tw_unzip_code(int status) { return zipcore::readStatusCode(static_cast<zipcore::ReadStatus>(status)); }

// Checks entry `index` before reading it and finds its data (local header checked): the status,
// and *dataOffset.
EXPORT int tw_unzip_locate(OpenArchive* a, int index, double* dataOffset) {
    if (index < 0 || static_cast<std::size_t>(index) >= a->listing.entries.size())
        return static_cast<int>(zipcore::ReadStatus::BadArchive);
    const zipcore::ListedEntry& entry = a->listing.entries[static_cast<std::size_t>(index)];
    zipcore::ReadStatus s = zipcore::checkReadable(entry.central);
    std::uint64_t offset = 0;
    if (s == zipcore::ReadStatus::Ok) s = zipcore::locateEntry(a->file, entry, offset);
    *dataOffset = static_cast<double>(offset);
    return static_cast<int>(s);
}

// Inflates `length` compressed bytes at `offset` (deflate, or Deflate64), never more than `bound`
// bytes out, a piece at a time through tw_inflate_read.
EXPORT EntryInflater* tw_inflate_new(double offset, double length, int deflate64, double bound) {
    return new (std::nothrow) EntryInflater(offset, length, deflate64 != 0, bound);
}
// Up to `capacity` bytes into out; *produced says how many. 0: more follows, 1: the stream ended,
// 2: invalid data, 3: more than the bound, 4: cut short, 5: the read failed.
EXPORT int tw_inflate_read(EntryInflater* z, unsigned char* out, int capacity, int* produced) {
    std::size_t got = 0;
    const rawinflate::Result r = z->inflater.read(out, static_cast<std::size_t>(capacity), got);
    *produced = static_cast<int>(got);
    return static_cast<int>(r);
}
EXPORT void tw_inflate_delete(EntryInflater* z) { delete z; }
