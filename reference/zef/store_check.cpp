// The database's check, repair and diagnosis, built on the store's own format and open.
#include "reference/zef/store_check.h"

#include <algorithm>
#include <ctime>
#include <map>
#include <set>

#include "platform/storage_file.h"
#include "reference/zef/edition_log.h"
#include "reference/zef/edition_set.h"
#include "reference/zef/edition_store.h"
#include "reference/zef/engine_text.h"

namespace zef {
namespace {

// What the log says, as far as it can be read.
struct LogReading {
    bool present = false;
    bool readable = false;
    LogScan scan;
    EditionSet set;
    std::set<uint32_t> removed;  // edition ids the readable records remove
};

LogReading ReadLog(const FileTable& files, const StoreLayout& layout) {
    LogReading reading;
    std::vector<std::u16string> names;
    files.listFiles(layout.folder.c_str(), names);
    reading.present = std::find(names.begin(), names.end(), u"editions.log") != names.end() ||
                      platform::IsFolder(layout.log.c_str());
    std::vector<uint8_t> bytes;
    if (!reading.present || !ReadWholeFile(files, layout.log, kMaxLogBytes, bytes)) return reading;
    reading.readable = true;
    reading.scan = ScanLog(bytes.data(), bytes.size(), [&](const LogRecord& record) {
        if (record.type == LogRecordType::kRemoval) reading.removed.insert(record.editionId);
        return reading.set.Apply(record);
    });
    return reading;
}

// False, with the report saying so, when there is no database folder to look at.
bool FolderExists(const std::u16string& folder, StoreReport& report) {
    if (!folder.empty() && platform::IsFolder(folder.c_str())) return true;
    report.health = StoreHealth::kFolderUnusable;
    report.summary = Concat(u"the database folder ", folder, u" does not exist");
    return false;
}

// Checks every edition's content against its digest, one problem line per fault.
void CheckContent(const FileTable& files, const StoreLayout& layout,
                  const std::vector<Edition>& editions, StoreReport& report) {
    std::set<std::u16string> named;
    uint32_t damaged = 0;
    uint32_t missing = 0;
    for (const Edition& e : editions) {
        ++report.editions;
        named.insert(Concat(DigestText(e.digest), u"-", e.blobSuffix));
        Digest digest{};
        uint64_t size = 0;
        const std::u16string content = layout.ContentFile(e.digest, e.blobSuffix);
        if (!DigestOfFile(files, content, &digest, &size)) {
            ++missing;
            report.problems.push_back(Concat(u"edition ", e.editionId, u" of ", e.path,
                                             u": its content ", content, u" is missing"));
        } else if (digest != e.digest || size != e.size) {
            ++damaged;
            report.problems.push_back(Concat(u"edition ", e.editionId, u" of ", e.path,
                                             u": its content ", content, u" is damaged (", size,
                                             u" bytes, ", e.size, u" expected, digest ",
                                             digest == e.digest ? u"matches" : u"differs", u")"));
        } else {
            ++report.intact;
        }
    }
    std::vector<std::u16string> names;
    files.listFiles(layout.content.c_str(), names);
    for (const std::u16string& name : names)
        if (named.count(name) == 0) ++report.orphans;
    if (damaged != 0) {
        report.health = StoreHealth::kContentDamaged;
        report.summary = Concat(damaged, u" of ", report.editions, u" editions have damaged content (",
                                missing, u" missing); they are listed as damaged and never "
                                u"restored; restore another edition of those files");
    } else if (missing != 0) {
        report.health = StoreHealth::kContentMissing;
        report.summary = Concat(missing, u" of ", report.editions, u" editions have lost their "
                                u"content; they are listed as missing and cannot be restored");
    }
}

}  // namespace

const char16_t* StoreHealthName(StoreHealth health) {
    switch (health) {
        case StoreHealth::kHealthy: return u"healthy";
        case StoreHealth::kInUse: return u"in use by another instance";
        case StoreHealth::kIndexDamaged: return u"edition log damaged";
        case StoreHealth::kIndexMissing: return u"edition log missing";
        case StoreHealth::kReadOnly: return u"read-only";
        case StoreHealth::kContentDamaged: return u"content damaged";
        case StoreHealth::kContentMissing: return u"content missing";
        case StoreHealth::kFolderUnusable: return u"folder unusable";
    }
    return u"?";
}

bool EditionsOfFile(const std::u16string& folder, const std::u16string& path,
                    std::vector<Edition>& editions, const FileTable& files) {
    const StoreLayout layout(folder);
    const LogReading log = ReadLog(files, layout);
    if (!log.readable) return false;
    editions = log.set.OfPath(path, nullptr, nullptr);
    for (Edition& e : editions) {
        Digest digest{};
        uint64_t size = 0;
        e.state = !DigestOfFile(files, layout.ContentFile(e.digest, e.blobSuffix), &digest, &size)
                      ? kContentMissing
                  : digest != e.digest || size != e.size ? kContentDamaged
                                                         : kContentIntact;
    }
    return true;
}

bool EditionsUnder(const std::u16string& folder, const std::u16string& under,
                   std::vector<Edition>& editions, const FileTable& files) {
    const LogReading log = ReadLog(files, StoreLayout(folder));
    if (!log.readable) return false;
    editions.clear();
    for (Edition& e : log.set.All()) {
        const bool inside = e.path.compare(0, under.size(), under) == 0 &&
                            (e.path.size() == under.size() || e.path[under.size()] == u'/' ||
                             e.path[under.size()] == u'\\' || under.empty() ||
                             under.back() == u'/' || under.back() == u'\\');
        if (inside) editions.push_back(std::move(e));
    }
    return true;
}

StoreHealth CheckStore(const std::u16string& folder, StoreReport& report, const FileTable& files) {
    report = StoreReport();
    const StoreLayout layout(folder);
    if (!FolderExists(folder, report)) return report.health;
    const LogReading log = ReadLog(files, layout);
    if (!log.present) {
        std::vector<std::u16string> content;
        files.listFiles(layout.content.c_str(), content);
        if (content.empty()) {
            report.summary = u"the database holds no edition yet";
            return report.health;
        }
        report.health = StoreHealth::kIndexMissing;
        report.summary = Concat(u"the edition log is missing but ", static_cast<uint32_t>(content.size()),
                                u" content files are kept; run repair to rebuild it");
        return report.health;
    }
    if (!log.readable || log.scan.state == LogState::kDamaged) {
        report.health = StoreHealth::kIndexDamaged;
        report.summary = Concat(u"the edition log ", layout.log, u" ",
                                log.readable ? u"is damaged: " + log.scan.reason
                                             : std::u16string(u"cannot be read or is too large"),
                                u"; run repair to rebuild it from the descriptors");
        if (log.readable) CheckContent(files, layout, log.set.All(), report);
        report.health = StoreHealth::kIndexDamaged;
        return report.health;
    }
    CheckContent(files, layout, log.set.All(), report);
    if (report.health == StoreHealth::kHealthy)
        report.summary = Concat(u"all ", report.editions, u" editions are intact",
                                log.scan.state == LogState::kTornTail
                                    ? u" (the log's last, unfinished write is cut at the next start)"
                                    : u"");
    return report.health;
}

StoreHealth RepairStore(const std::u16string& folder, StoreReport& report, const FileTable& files) {
    report = StoreReport();
    const StoreLayout layout(folder);
    if (!FolderExists(folder, report)) return report.health;
    const FileHandle lock = platform::LockExclusively(layout.lock.c_str());
    if (lock == kInvalidFile) {
        report.health = StoreHealth::kInUse;
        report.summary = u"the database is in use by another instance (or cannot be written); "
                         u"stop the service first";
        return report.health;
    }
    LogReading log = ReadLog(files, layout);
    EditionSet& set = log.set;
    // Editions of an earlier version's index, when there is no log yet.
    if (!log.present) {
        std::vector<uint8_t> bytes;
        IndexContent index;
        std::u16string ignored;
        if (ReadWholeFile(files, layout.legacyIndex, kMaxLogBytes, bytes) &&
            ParseIndex(bytes, index, ignored)) {
            for (const Edition& e : index.editions) set.Add(e);
            set.nextEditionId = std::max(set.nextEditionId, index.nextEditionId);
        }
    }
    // Every descriptor of an edition the readable log does not remove.
    std::vector<std::u16string> names;
    files.listFiles(layout.descriptors.c_str(), names);
    uint32_t fromDescriptors = 0;
    for (const std::u16string& name : names) {
        LogRecord record;
        if (!ReadFramedFile(files, JoinPath(layout.descriptors, name), kDescriptorMagic, record)) {
            report.problems.push_back(Concat(u"the descriptor ", name, u" is damaged; skipped"));
            continue;
        }
        const uint32_t id = record.edition.editionId;
        if (log.removed.count(id) != 0 || set.Find(id) != nullptr) continue;
        if (set.Add(record.edition)) ++fromDescriptors;
    }
    const std::vector<Edition> editions = set.All();
    CheckContent(files, layout, editions, report);
    // Descriptors that went missing are written again, so a later repair finds them.
    for (const Edition& e : editions) {
        LogRecord record;
        record.edition = e;
        ScopedFile file(files, files.createForWriting(layout.DescriptorFile(e.editionId).c_str()));
        const std::vector<uint8_t> bytes = FramedFile(kDescriptorMagic, record);
        if (!file.IsOpen() || !files.write(file.Get(), bytes.data(), static_cast<uint32_t>(bytes.size())) ||
            !files.flush(file.Get()))
            report.problems.push_back(Concat(u"the descriptor of edition ", e.editionId,
                                             u" cannot be written"));
    }
    std::vector<uint8_t> bytes(kLogMagic, kLogMagic + sizeof kLogMagic);
    for (const LogRecord& record : set.Snapshot()) {
        const std::vector<uint8_t> frame = EncodeRecord(record);
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    const bool keepOld = platform::IsFolder(layout.log.c_str()) ||
                         (log.present && (!log.readable || log.scan.state != LogState::kWhole));
    if (keepOld) {
        const std::u16string aside =
            Concat(layout.log, u".damaged-", static_cast<uint64_t>(std::time(nullptr)));
        files.rename(layout.log.c_str(), aside.c_str());
        report.problems.push_back(Concat(u"the old edition log is kept as ", aside));
    }
    if (!WriteFileAtomically(files, layout.log, bytes)) {
        platform::ReleaseLock(lock);
        report.health = StoreHealth::kReadOnly;
        report.summary = Concat(u"the edition log ", layout.log, u" cannot be written (a full disk, "
                                u"or no permission); nothing was changed but the old log's name");
        return report.health;
    }
    if (!log.present && !set.All().empty())
        files.rename(layout.legacyIndex.c_str(), (layout.legacyIndex + u".converted").c_str());
    platform::ReleaseLock(lock);
    const std::u16string rebuilt =
        Concat(u"the edition log is rebuilt with ", report.editions, u" editions (", fromDescriptors,
               u" from descriptors)");
    report.summary = report.health == StoreHealth::kHealthy ? rebuilt
                                                            : Concat(rebuilt, u"; ", report.summary);
    return report.health;
}

StoreHealth DiagnoseStore(const std::u16string& folder, StoreReport& report, const FileTable& files) {
    report = StoreReport();
    EngineLog quiet;
    quiet.SetLevel(0);
    EditionStore store(files, quiet);
    std::u16string why;
    const OpenResult opened = store.Open(folder, StoreLimits{0, 0}, &why);
    switch (opened) {
        case OpenResult::kOk: report.health = StoreHealth::kHealthy; break;
        case OpenResult::kReadOnly: report.health = StoreHealth::kReadOnly; break;
        case OpenResult::kFolderUnusable: report.health = StoreHealth::kFolderUnusable; break;
        case OpenResult::kLocked: report.health = StoreHealth::kInUse; break;
        case OpenResult::kIndexDamaged: report.health = StoreHealth::kIndexDamaged; break;
        case OpenResult::kIndexMissing: report.health = StoreHealth::kIndexMissing; break;
    }
    report.summary = opened == OpenResult::kOk ? u"the database opens for writing" : why;
    return report.health;
}

}  // namespace zef
