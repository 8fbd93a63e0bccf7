#include "hashclass.h"

#include <cstring>
#include <new>

#include "sha256.h"
#include "sm3.h"

namespace digest {

// Every algorithm's record, defined in its own file (SHA-256's and SM3's below).
extern const HashClass kSha256Class;
extern const HashClass kSm3Class;

namespace {

// The table: a kind is a row's index, so rows are only ever added at the end.
const HashClass* const kTable[] = {
    &kSha256Class,
    &kSm3Class,
};

constexpr int kCount = static_cast<int>(sizeof kTable / sizeof kTable[0]);

// The record of a digest of the shared block scaffolding (blockframing.h): its context is the
// class itself, its saved state the scaffolding's, marked with the digest's own tag.
template <class Hash, std::uint32_t tag>
struct BlockHashRecord {
    static Hash& of(void* context) { return *static_cast<Hash*>(context); }
    static void init(void* context) { new (context) Hash(); }
    static void update(void* context, const void* data, std::size_t length) { of(context).Update(data, length); }
    static void final(void* context, unsigned char* digest) { of(context).Final(digest); }
    static void save(const void* context, unsigned char* state) {
        static_cast<const Hash*>(context)->Save(tag, state);
    }
    static bool load(void* context, const unsigned char* state, std::size_t length) {
        return of(context).Load(tag, state, length);
    }
    static void destroy(void* context) { of(context).~Hash(); }

    static constexpr HashClass record(const char* name) {
        return HashClass{name, sizeof(Hash), Hash::kDigestSize, Hash::kStateSize,
                         init, update, final, save, load, destroy};
    }
};

constexpr std::uint32_t Tag(char a, char b, char c, char d) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24);
}

}  // namespace

const HashClass kSha256Class = BlockHashRecord<Sha256, Tag('S', '2', '5', '6')>::record("sha256");
const HashClass kSm3Class = BlockHashRecord<Sm3, Tag('S', 'M', '3', ' ')>::record("sm3");

bool HashIsQuick(int kind) {
    return kind == HashKind("sha256") && Sha256AutoEngine() == Sha256Engine::ShaNi;
}

int HashCount() { return kCount; }

const HashClass* HashAt(int kind) { return kind >= 0 && kind < kCount ? kTable[kind] : nullptr; }

int HashKind(const char* name) {
    if (name == nullptr) return -1;
    for (int kind = 0; kind < kCount; ++kind)
        if (std::strcmp(kTable[kind]->name, name) == 0) return kind;
    return -1;
}

}  // namespace digest
