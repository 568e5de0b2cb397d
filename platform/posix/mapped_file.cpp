// A shared mmap of the file, flushed with msync before it is unmapped.
#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/text.h"

namespace platform {

bool ChangeThroughMap(const std::u16string& path,
                      const std::function<void(uint8_t* bytes, size_t count)>& change,
                      std::string& error) {
    const int file = open(ToUtf8(path).c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (file < 0) {
        error = std::string("cannot open it: ") + std::strerror(errno);
        return false;
    }
    struct stat status {};
    if (fstat(file, &status) != 0 || status.st_size <= 0) {
        error = "it is empty or cannot be measured; nothing to map";
        close(file);
        return false;
    }
    const size_t count = static_cast<size_t>(status.st_size);
    void* view = mmap(nullptr, count, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
    close(file);  // the map keeps the file
    if (view == MAP_FAILED) {
        error = std::string("cannot map it: ") + std::strerror(errno);
        return false;
    }
    change(static_cast<uint8_t*>(view), count);
    const bool flushed = msync(view, count, MS_SYNC) == 0;
    if (!flushed) error = std::string("cannot flush the map: ") + std::strerror(errno);
    munmap(view, count);
    return flushed;
}

}  // namespace platform
