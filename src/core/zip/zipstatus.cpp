#include "zipcore.h"

namespace zipcore {

const char* describe(Status status) {
    switch (status) {
#define ZIPCORE_STATUS_NAME(name, text, code) \
    case Status::name: return text;
    ZIPCORE_STATUSES(ZIPCORE_STATUS_NAME)
#undef ZIPCORE_STATUS_NAME
    }
    return "unknown";
}

std::uint32_t systemErrorCode(Status status) {
    switch (status) {
#define ZIPCORE_STATUS_CODE(name, text, code) \
    case Status::name: return code;
    ZIPCORE_STATUSES(ZIPCORE_STATUS_CODE)
#undef ZIPCORE_STATUS_CODE
    }
    return 31;  // ERROR_GEN_FAILURE
}

}  // namespace zipcore
