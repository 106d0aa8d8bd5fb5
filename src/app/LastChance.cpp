// The report of an error that no command caught, and the commands' error box.
#include "app/Nelvo.h"
#include "platform/Errors.h"
#include "platform/File.h"

namespace {

std::string ModuleNameAt(const void* address) {
    HMODULE module = nullptr;
    if (!address || !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                            GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                        static_cast<LPCSTR>(address), &module))
        module = GetModuleHandleA(nullptr);
    char path[MAX_PATH + 1] = {};
    GetModuleFileNameA(module, path, MAX_PATH);
    return path + platform::NameStart(path);
}

[[noreturn]] void Report(const char* typeName, const void* address, std::string message) {
    std::string text =
        Format("Exception %s in module %s at %p.\n", typeName, ModuleNameAt(address).c_str(), address);
    if (!message.empty() && message.back() != '.') message += '.';
    text += message;
    MessageBoxA(nullptr, text.c_str(), "Application Error", MB_TASKMODAL | MB_ICONERROR);
    ExitProcess(1);
}

} // namespace

void ReportUncaughtError(const std::exception& error) {
    if (auto known = dynamic_cast<const Error*>(&error))
        Report(known->TypeName(), known->Address(), known->Message());
    if (dynamic_cast<const std::bad_alloc*>(&error))
        Report("OutOfMemoryError", __builtin_return_address(0), "Out of memory");
    Report("Exception", __builtin_return_address(0), error.what());
}

void ReportUncaughtError() {
    Report("Exception", __builtin_return_address(0), "");
}

void ShowErrorBox(const std::string& message) {
    MessageBoxA(MainWindow, message.c_str(), MESSAGE_CAPTION, MB_ICONERROR | MB_SETFOREGROUND);
}
