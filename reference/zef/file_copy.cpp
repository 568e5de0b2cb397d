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

// The source, opened without following a link; its size and ownership go to outcome.
FileHandle OpenSource(const FileTable& files, const std::u16string& source, CopyOutcome& outcome) {
    FileHandle in = files.openSource(source.c_str(), &outcome.sourceIsLink);
    uint64_t size = 0;
    if (in != kInvalidFile && !files.size(in, &size)) {
        files.close(in);
        in = kInvalidFile;
    }
    if (in == kInvalidFile) return in;
    outcome.size = size;
    outcome.ownershipKnown = platform::ReadOwnership(in, &outcome.ownership);
    return in;
}

// Copies the open source into out; fills outcome's method, size, digest and status.
void CopyOpenFiles(const FileTable& files, FileHandle in, FileHandle out,
                   const CopyRequest& request, CopyOutcome& outcome) {
    std::unique_ptr<uint8_t[]> buffer;
    DigestBuilder digest;
    uint64_t copied = 0;
    outcome.status = CopyStatus::kTargetFailed;
    const bool cloned = request.clone && files.clone(in, out);
    outcome.cloneUnsupported =
        request.clone && !cloned && files.lastFailure() == platform::FileFailure::kUnsupported;
    if (cloned) {
        outcome.method = CopyMethod::kClone;
        if (request.hash) {
            buffer.reset(new uint8_t[kChunk]);
            if (!ReadAll(files, in, buffer.get(), &copied, [&](const uint8_t* bytes, uint32_t n) {
                    digest.Add(bytes, n);
                    return true;
                })) {
                outcome.status = CopyStatus::kSourceUnreadable;
                return;
            }
        }
        if (!files.size(out, &copied)) return;
    } else if (!request.hash && files.copyData(in, out, &copied)) {
        outcome.method = CopyMethod::kCopy;
    } else {
        if (copied != 0) return;  // failed half-way
        outcome.method = CopyMethod::kCopy;
        buffer.reset(new uint8_t[kChunk]);
        bool written = true;
        const bool read = ReadAll(files, in, buffer.get(), &copied,
                                  [&](const uint8_t* bytes, uint32_t n) {
                                      if (request.hash) digest.Add(bytes, n);
                                      written = files.write(out, bytes, n);
                                      return written;
                                  });
        if (!written) return;
        if (!read) {
            outcome.status = CopyStatus::kSourceUnreadable;
            return;
        }
    }
    if (request.durable && !files.flush(out)) return;
    outcome.size = copied;
    if (request.hash) outcome.digest = digest.Finish();
    outcome.status = CopyStatus::kOk;
}

// The source as OpenSource gives it, but for one larger than the request's limit
// (kTooLarge, and no file).
FileHandle OpenSourceWithin(const FileTable& files, const std::u16string& source,
                            const CopyRequest& request, CopyOutcome& outcome) {
    FileHandle in = OpenSource(files, source, outcome);
    if (in != kInvalidFile && outcome.size > request.limit) {
        files.close(in);
        outcome.status = CopyStatus::kTooLarge;
        return kInvalidFile;
    }
    return in;
}

}  // namespace

CopyOutcome CopyFileContent(const FileTable& files, const std::u16string& source,
                            const std::u16string& target, const CopyRequest& request) {
    CopyOutcome outcome;
    ScopedFile in(files, OpenSourceWithin(files, source, request, outcome));
    if (!in.IsOpen()) return outcome;
    ScopedFile out(files, files.createForWriting(target.c_str()));
    if (!out.IsOpen()) {
        outcome.status = CopyStatus::kTargetFailed;
        return outcome;
    }
    CopyOpenFiles(files, in.Get(), out.Get(), request, outcome);
    if (outcome.status != CopyStatus::kOk) {
        out.Close();
        files.remove(target.c_str());
    }
    return outcome;
}

CopyOutcome CopyIntoFile(const FileTable& files, const std::u16string& source, FileHandle out,
                         const CopyRequest& request) {
    CopyOutcome outcome;
    ScopedFile in(files, OpenSourceWithin(files, source, request, outcome));
    if (!in.IsOpen()) return outcome;
    CopyOpenFiles(files, in.Get(), out, request, outcome);
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
