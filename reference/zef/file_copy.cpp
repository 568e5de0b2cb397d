// File content copies with a clone first and a read-write loop as the fallback.
#include "reference/zef/file_copy.h"

#include <cstring>
#include <memory>

namespace zef {
namespace {

constexpr uint32_t kChunk = 1u << 20;

// Reads the whole of an open file, handing each piece to sink; false on a read error.
template <typename Sink>
bool ReadAll(const FileTable& files, FileHandle file, uint8_t* buffer, uint64_t* total,
             Sink&& sink) {
    *total = 0;
    for (;;) {
        uint32_t got = 0;
        if (!files.read(file, buffer, kChunk, &got)) return false;
        if (got == 0) return true;
        if (!sink(buffer, got)) return false;
        *total += got;
    }
}

}  // namespace

CopyOutcome CopyFileContent(const FileTable& files, const std::u16string& source,
                            const std::u16string& target, const CopyRequest& request) {
    CopyOutcome outcome;
    ScopedFile in(files, files.openForReading(source.c_str()));
    uint64_t size = 0;
    if (!in.IsOpen() || !files.size(in.Get(), &size)) return outcome;
    outcome.size = size;
    outcome.ownershipKnown = platform::ReadOwnership(in.Get(), &outcome.ownership);
    if (size > request.limit) {
        outcome.status = CopyStatus::kTooLarge;
        return outcome;
    }
    ScopedFile out(files, files.createForWriting(target.c_str()));
    if (!out.IsOpen()) {
        outcome.status = CopyStatus::kTargetFailed;
        return outcome;
    }
    auto fail = [&](CopyStatus status) {
        out.Close();
        files.remove(target.c_str());
        outcome.status = status;
        return outcome;
    };
    std::unique_ptr<uint8_t[]> buffer;
    DigestBuilder digest;
    uint64_t copied = 0;
    if (files.clone(in.Get(), out.Get())) {
        outcome.method = CopyMethod::kClone;
        if (request.hash) {
            buffer.reset(new uint8_t[kChunk]);
            if (!ReadAll(files, in.Get(), buffer.get(), &copied, [&](const uint8_t* bytes, uint32_t n) {
                    digest.Add(bytes, n);
                    return true;
                }))
                return fail(CopyStatus::kSourceUnreadable);
        }
        if (!files.size(out.Get(), &copied)) return fail(CopyStatus::kTargetFailed);
    } else if (!request.hash && files.copyData(in.Get(), out.Get(), &copied)) {
        outcome.method = CopyMethod::kCopy;
    } else {
        if (copied != 0) return fail(CopyStatus::kTargetFailed);  // failed half-way
        outcome.method = CopyMethod::kCopy;
        buffer.reset(new uint8_t[kChunk]);
        bool written = true;
        const bool read = ReadAll(files, in.Get(), buffer.get(), &copied,
                                  [&](const uint8_t* bytes, uint32_t n) {
                                      if (request.hash) digest.Add(bytes, n);
                                      written = files.write(out.Get(), bytes, n);
                                      return written;
                                  });
        if (!written) return fail(CopyStatus::kTargetFailed);
        if (!read) return fail(CopyStatus::kSourceUnreadable);
    }
    if (request.durable && !files.flush(out.Get())) return fail(CopyStatus::kTargetFailed);
    outcome.size = copied;
    if (request.hash) outcome.digest = digest.Finish();
    outcome.status = CopyStatus::kOk;
    return outcome;
}

bool SameContent(const FileTable& files, const std::u16string& first,
                 const std::u16string& second) {
    ScopedFile a(files, files.openForReading(first.c_str()));
    ScopedFile b(files, files.openForReading(second.c_str()));
    uint64_t sizeA = 0;
    uint64_t sizeB = 0;
    if (!a.IsOpen() || !b.IsOpen() || !files.size(a.Get(), &sizeA) ||
        !files.size(b.Get(), &sizeB) || sizeA != sizeB)
        return false;
    std::unique_ptr<uint8_t[]> bufferA(new uint8_t[kChunk]);
    std::unique_ptr<uint8_t[]> bufferB(new uint8_t[kChunk]);
    for (;;) {
        uint32_t gotA = 0;
        if (!files.read(a.Get(), bufferA.get(), kChunk, &gotA)) return false;
        uint32_t gotB = 0;
        while (gotB < gotA) {
            uint32_t more = 0;
            if (!files.read(b.Get(), bufferB.get() + gotB, gotA - gotB, &more) || more == 0)
                return false;
            gotB += more;
        }
        if (gotA == 0) {
            uint32_t extra = 0;
            return files.read(b.Get(), bufferB.get(), 1, &extra) && extra == 0;
        }
        if (std::memcmp(bufferA.get(), bufferB.get(), gotA) != 0) return false;
    }
}

const char16_t* CopyMethodName(CopyMethod method) {
    switch (method) {
        case CopyMethod::kNone: return u"none";
        case CopyMethod::kClone: return u"block clone (FICLONE)";
        case CopyMethod::kCopy: return u"copy";
    }
    return u"?";
}

const char16_t* CopyStatusName(CopyStatus status) {
    switch (status) {
        case CopyStatus::kOk: return u"copied";
        case CopyStatus::kSourceUnreadable: return u"the file cannot be read";
        case CopyStatus::kTooLarge: return u"the file is larger than the bound";
        case CopyStatus::kTargetFailed: return u"the copy cannot be written (folder missing, read-only or full)";
    }
    return u"?";
}

}  // namespace zef
