// A file mapping of the whole file, flushed with FlushViewOfFile before it is unmapped.
#include "platform/mapped_file.h"

#include <windows.h>

namespace platform {

bool ChangeThroughMap(const std::u16string& path,
                      const std::function<void(uint8_t* bytes, size_t count)>& change,
                      std::string& error) {
    HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()),
                              GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        error = "cannot open it: error " + std::to_string(GetLastError());
        return false;
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart <= 0) {
        error = "it is empty or cannot be measured; nothing to map";
        CloseHandle(file);
        return false;
    }
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
    CloseHandle(file);  // the mapping keeps the file
    if (mapping == nullptr) {
        error = "cannot map it: error " + std::to_string(GetLastError());
        return false;
    }
    void* view = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0);
    CloseHandle(mapping);  // the view keeps the mapping
    if (view == nullptr) {
        error = "cannot map it: error " + std::to_string(GetLastError());
        return false;
    }
    const size_t count = static_cast<size_t>(size.QuadPart);
    change(static_cast<uint8_t*>(view), count);
    const bool flushed = FlushViewOfFile(view, 0) != 0;
    if (!flushed) error = "cannot flush the map: error " + std::to_string(GetLastError());
    UnmapViewOfFile(view);
    return flushed;
}

}  // namespace platform
