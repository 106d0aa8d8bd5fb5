#include "app/IntakePayload.h"

#include <cstring>

char IntakeBuffer[INTAKE_PATH_MAX + 1];

bool TakeIntakePayload(const void* data, std::size_t size, std::string& path) {
    if (size > 0 && !data) return false;
    const char* bytes = static_cast<const char*>(data);
    const void* zero = size > 0 ? std::memchr(bytes, '\0', size) : nullptr;
    const std::size_t length = zero ? static_cast<const char*>(zero) - bytes : size;
    if (length > INTAKE_PATH_MAX) return false;
    if (length > 0) std::memcpy(IntakeBuffer, bytes, length);
    IntakeBuffer[length] = '\0';
    path.assign(IntakeBuffer, length);
    return true;
}
