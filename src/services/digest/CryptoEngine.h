// The crypto engine kept beside the control: loaded on the first SM3 request (once, whichever
// apartment asks first), kept for the life of the process, retried after a failed load.
#pragma once
#include <windows.h>
#include <string>

namespace tarnwick::engine {

enum class LoadStatus {
    Ok,
    LoadFailed,    // the library could not be loaded from path
    EntryMissing,  // one of its 33 entry points is missing
    InitFailed,    // its Initialize returned status
};

struct LoadOutcome {
    LoadStatus status = LoadStatus::Ok;
    int code = 0;      // -1, or Initialize's status
    std::wstring path;  // the library's full path
};

bool IsLoaded();
// Loads the engine unless it is loaded already.
LoadOutcome EnsureLoaded();

// What became of an SM3 request.
enum class Sm3Status {
    Done,       // hex holds the digest
    NotLoaded,  // no engine to ask
    Failed,     // code holds the engine's status (src/interfaces/ovalon.h); OVALON_OK when it
                // gave no digest
};

struct Sm3Outcome {
    Sm3Status status = Sm3Status::Done;
    int code = 0;      // the engine's own status value
    std::string hex;   // the digest in upper-case hex, when done
};

// SM3 of a file or of bytes, of Z || M when withZ is non-zero (cert: base64, may be empty).
Sm3Outcome HashFile(const std::wstring& path, long withZ, const std::string& cert);
Sm3Outcome HashData(const unsigned char* data, DWORD count, long withZ, const std::string& cert);

}  // namespace tarnwick::engine
