// The intake's payload handling on any bytes: never past the buffer, never a
// cut path, always the bytes before the first zero.
#include "FuzzCheck.h"
#include "app/IntakePayload.h"

#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = "before";
    // A copy of exactly the payload, so that ASan sees any read beyond it.
    char* payload = size ? new char[size] : nullptr;
    if (size) std::memcpy(payload, data, size);
    const bool taken = TakeIntakePayload(payload, size, path);

    size_t length = 0;
    while (length < size && data[length] != 0) ++length;
    FUZZ_CHECK(taken == (length <= INTAKE_PATH_MAX));
    if (taken) {
        FUZZ_CHECK(path == std::string(reinterpret_cast<const char*>(data), length));
        FUZZ_CHECK(std::strlen(IntakeBuffer) == length);
    } else {
        FUZZ_CHECK(path == "before");
    }
    delete[] payload;
    return 0;
}
