// One seam for every digest the core computes: each algorithm describes itself once, as a class
// record of plain functions over a context it sizes itself, and everything above (the module's
// exports, the SDK's engine, the control's digest service) works through the record and a kind
// number, never by branching on a name.
//
// Adding an algorithm: its own core file defines its record, the table in hashclass.cpp gains one
// row, and its test vectors go beside the others.
//
// Saved states are what a resumable job keeps: a byte string of the algorithm's own fixed layout
// (little-endian fields), which `load` checks and refuses when it is not one `save` could write.
#pragma once

#include <cstddef>
#include <cstdint>

namespace digest {

struct HashClass {
    const char* name;           // lower case, as pages name it: "sha256", "sm3", ...
    std::size_t contextSize;    // bytes a context needs (aligned for any scalar type)
    std::size_t digestSize;     // bytes of the result
    std::size_t stateSize;      // bytes `save` writes
    // Constructs a context for a new message in `context` (contextSize bytes).
    void (*init)(void* context);
    void (*update)(void* context, const void* data, std::size_t length);
    // Writes digestSize bytes (CRCs as their big-endian bytes); the context is then as new.
    void (*final)(void* context, unsigned char* digest);
    // Writes stateSize bytes from which `load` continues the same message.
    void (*save)(const void* context, unsigned char* state);
    // Continues a message from a saved state; false (context as new) when the bytes are not one.
    bool (*load)(void* context, const unsigned char* state, std::size_t length);
    // Ends the context's life (nothing for most); init may follow.
    void (*destroy)(void* context);
};

// The algorithms, in a fixed order: a kind is an index into this table.
int HashCount();
const HashClass* HashAt(int kind);
// The kind named `name` (lower case), or -1.
int HashKind(const char* name);
// True when the kind, in the form Auto picks on this CPU, hashes faster than one thread reads
// (SHA-256 on the SHA extensions): a file for it is worth reading ahead on a second thread.
bool HashIsQuick(int kind);

}  // namespace digest
