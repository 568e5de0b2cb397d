// The platform layer: own module path, full paths, file appends and sizes, links, the registry,
// clock, processes, readable memory, UTF-8 and code-page text. Threads: concurrency_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/anchored_files.h"
#include "platform/clock.h"
#include "platform/file_ops.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/process_image.h"
#include "platform/process_launch.h"
#include "platform/process_parent.h"
#include "platform/readable_memory.h"
#include "platform/registry.h"
#include "platform/sleep.h"
#include "platform/storage_file.h"
#include "platform/text.h"
#include "tests/fakes/test_folder.h"

namespace {

TEST(OwnModuleFileName, NamesThisProgramAndTruncatesLikeTheWindowsCall) {
    char16_t path[1024] = {};
    const uint32_t length = platform::OwnModuleFileName(path, 1024);
    ASSERT_LT(length, 1024u);
    const std::u16string full(path);
    EXPECT_EQ(full.size(), length);
    EXPECT_EQ(std::filesystem::path(full).stem().u16string(), u"unit_tests");
    EXPECT_NE(full.rfind(platform::kPathSeparator), std::u16string::npos);

    char16_t small[6];
    EXPECT_EQ(platform::OwnModuleFileName(small, 6), 6u);
    EXPECT_EQ(std::u16string(small), full.substr(0, 5));
    EXPECT_EQ(platform::OwnModuleFileName(nullptr, 10), 0u);
    EXPECT_EQ(platform::OwnModuleFileName(small, 0), 0u);
}

// A path written with '/' in the platform's form: '\' as separator, and a drive before a
// leading separator on Windows.
std::u16string Separated(std::u16string path) {
    std::replace(path.begin(), path.end(), u'/', platform::kPathSeparator);
    return path;
}
std::u16string Native(std::u16string path) {
    path = Separated(path);
    if (platform::kPathSeparator == u'\\' && !path.empty() && path[0] == u'\\') path = u"C:" + path;
    return path;
}

std::u16string FullPathOf(const std::u16string& path, uint32_t capacity = 1024) {
    std::u16string buffer(capacity, u'\0');
    const uint32_t length = platform::SystemFileOps().fullPath(path.c_str(), buffer.data(), capacity);
    return buffer.substr(0, length);
}

// Dots and separators resolved lexically, as the Windows call does (also past a file: the
// logger's Open cases); a relative path starts at the current folder; too small a buffer, or no
// path, gives 0.
TEST(FullPath, ResolvesDotsAndSeparatorsLexicallyAsTheWindowsCall) {
    const std::u16string cwd = std::filesystem::current_path().u16string();
    // Written with '/'; a relative path's full form is the current folder and what follows it.
    const std::pair<std::u16string, std::u16string> cases[] = {
        {u"/a/b/c", u"/a/b/c"}, {u"/a/./b", u"/a/b"}, {u"/a/b/../c", u"/a/c"}, {u"/a//b///c", u"/a/b/c"},
        {u"/a/b/..", u"/a"},    {u"/a/b/.", u"/a/b"}, {u"/a/b/", u"/a/b/"},    {u"/a/b/../", u"/a/"},
        {u"/..", u"/"},         {u"/../../a", u"/a"}, {u"r.log", u"/r.log"},   {u"./x/./y", u"/x/y"},
        {u".", u""},
    };
    for (const auto& [path, full] : cases) {
        const bool rooted = path[0] == u'/';
        const std::u16string want = rooted ? Native(full) : cwd + Separated(full);
        EXPECT_EQ(FullPathOf(rooted ? Native(path) : Separated(path)), want) << std::filesystem::path(path);
    }
    EXPECT_EQ(FullPathOf(u".."), cwd.substr(0, cwd.rfind(platform::kPathSeparator)));
    const std::u16string path = Native(u"/a/b");
    char16_t buffer[8];
    const auto& ops = platform::SystemFileOps();
    EXPECT_EQ(ops.fullPath(path.c_str(), buffer, static_cast<uint32_t>(path.size())), 0u);
    EXPECT_EQ(ops.fullPath(path.c_str(), buffer, static_cast<uint32_t>(path.size() + 1)), path.size());
    EXPECT_EQ(ops.fullPath(nullptr, buffer, 8), 0u);
    EXPECT_EQ(ops.fullPath(u"", buffer, 8), 0u);
}

// A log is appended to by two handles in turn (another process's writer, or this one's after a
// reopen): each line lands after the other's, none over it, though neither handle is moved to
// the end (the handles append by themselves, so the logger's move costs no system call and two
// writers never race between a move and a write). Whether a file existed, and its size, are seen
// through the logger's mark and rotation.
TEST(FileOps, TwoHandlesAppendInTurnWithoutBeingMoved) {
    const std::filesystem::path folder = MakeTestFolder("file_ops");
    const std::u16string file = (folder / "shared.log").u16string();
    const auto& ops = platform::SystemFileOps();
    const platform::FileHandle handles[] = {ops.openAlways(file.c_str(), nullptr),
                                            ops.openAlways(file.c_str(), nullptr)};
    ASSERT_NE(handles[0], platform::kInvalidFile);
    ASSERT_NE(handles[1], platform::kInvalidFile);
    const std::string lines[] = {"one\n", "second\n", "three\n", "fourth\n"};
    for (size_t i = 0; i < std::size(lines); ++i)
        ASSERT_TRUE(ops.write(handles[i % 2], lines[i].data(), static_cast<uint32_t>(lines[i].size())));
    EXPECT_EQ(ReadFileBytes(folder / "shared.log"), lines[0] + lines[1] + lines[2] + lines[3]);
    ops.close(handles[0]);
    ops.close(handles[1]);
    std::filesystem::remove_all(folder);
}

// A folder reached without links, and the files a root service creates, opens, renames and
// removes in it: nothing a link names is ever opened or written.
TEST(AnchoredFiles, NoLinkOnTheWayIsFollowedAndNothingPlantedIsTouched) {
    namespace fs = std::filesystem;
    const fs::path root = MakeTestFolder("anchored");
    fs::create_directories(root / "tree" / "sub");
    fs::create_directories(root / "outside");
    WriteFileBytes(root / "outside" / "victim", "victim");
    WriteFileBytes(root / "tree" / "file", "file");
    std::error_code ec;
    fs::create_directory_symlink(root / "outside", root / "tree" / "linked", ec);
    fs::create_symlink(root / "outside" / "victim", root / "tree" / "sub" / "planted", ec);
    const bool links = !ec && fs::is_symlink(fs::symlink_status(root / "tree" / "linked"));
    const struct {
        fs::path path;
        platform::FolderRefusal refusal;
        fs::path where;
    } cases[] = {
        {root / "tree" / "sub", platform::FolderRefusal::kNone, {}},
        {root / "tree" / "gone" / "deeper", platform::FolderRefusal::kMissing, root / "tree" / "gone"},
        {root / "tree" / "file" / "x", platform::FolderRefusal::kNotFolder, root / "tree" / "file"},
        {root / "tree" / "linked" / "x", platform::FolderRefusal::kLink, root / "tree" / "linked"},
        {root / "tree" / "linked", platform::FolderRefusal::kLink, root / "tree" / "linked"},
    };
    for (const auto& c : cases) {
        if (c.refusal == platform::FolderRefusal::kLink && !links) continue;
        SCOPED_TRACE(c.path.string());
        const platform::OpenedFolder opened = platform::OpenFolderWithoutLinks(c.path.u16string().c_str());
        EXPECT_EQ(opened.refusal, c.refusal);
        EXPECT_EQ(fs::path(opened.where).make_preferred(), fs::path(c.where).make_preferred());
        EXPECT_EQ(opened.folder != platform::kInvalidFolder, c.refusal == platform::FolderRefusal::kNone);
        platform::CloseFolder(opened.folder);
    }

    const platform::OpenedFolder sub = platform::OpenFolderWithoutLinks((root / "tree" / "sub").u16string().c_str());
    ASSERT_NE(sub.folder, platform::kInvalidFolder);
    std::u16string first, second;
    const platform::FileHandle a = platform::CreateNewFileIn(sub.folder, u"~t-", u".tmp", &first);
    const platform::FileHandle b = platform::CreateNewFileIn(sub.folder, u"~t-", u".tmp", &second);
    ASSERT_NE(a, platform::kInvalidFile);
    ASSERT_NE(b, platform::kInvalidFile);
    EXPECT_NE(first, second) << "each name is drawn afresh";
    EXPECT_EQ(first.size(), 3u + 16u + 4u);
    EXPECT_TRUE(platform::WriteAll(a, "new", 3));
    platform::CloseFile(a);
    platform::CloseFile(b);
    if (links) {
        bool isLink = false;
        EXPECT_EQ(platform::OpenFileInFolder(sub.folder, u"planted", &isLink), platform::kInvalidFile);
        EXPECT_TRUE(isLink);
        platform::FileOwnership ownership;
        EXPECT_FALSE(platform::ReadOwnershipInFolder(sub.folder, u"planted", &ownership));
        EXPECT_EQ(platform::OpenForReadingWithoutLinks((root / "tree" / "linked" / "victim").u16string().c_str(), &isLink),
                  platform::kInvalidFile);
        EXPECT_TRUE(isLink);
        // A rename over a link replaces the link; what it named is untouched.
        EXPECT_TRUE(platform::RenameInFolder(sub.folder, first.c_str(), u"planted"));
        EXPECT_FALSE(fs::is_symlink(fs::symlink_status(root / "tree" / "sub" / "planted")));
        EXPECT_EQ(ReadFileBytes(root / "tree" / "sub" / "planted"), "new");
        EXPECT_EQ(ReadFileBytes(root / "outside" / "victim"), "victim");
    }
    EXPECT_TRUE(platform::RemoveFromFolder(sub.folder, second.c_str()));
    EXPECT_FALSE(fs::exists(root / "tree" / "sub" / fs::path(second)));
    platform::CloseFolder(sub.folder);
    fs::remove_all(root);
}

// A registry that answers as a test scripts it: the error of an open in the 64-bit view and
// in the plain one (0: found), and every access asked for and key closed, in order.
struct ScriptedRegistry {
    int32_t missing64, missingPlain;
    std::vector<uint32_t> asked;
    std::vector<void*> closed;
} g_registry;
char g_keys[2];
const platform::RegistryCalls kScriptedRegistry{
    [](const char16_t*, uint32_t access, void** key) {
        g_registry.asked.push_back(access);
        const bool wow64 = (access & 0x100) != 0;
        const int32_t error = wow64 ? g_registry.missing64 : g_registry.missingPlain;
        if (error == 0) *key = &g_keys[wow64 ? 1 : 0];
        return error;
    },
    [](void* key) { g_registry.closed.push_back(key); }};

// The 64-bit view first, then the access as given. One key through a run of opens: a success
// closes the key held before, a failure keeps it, and the last is closed once, when its holder goes.
// Then the system's own calls.
TEST(Registry, OpenTriesThe64BitViewThenTheAccessAsGiven) {
    constexpr uint32_t kRead = 0x20019, k64 = kRead | 0x100;
    const struct {
        int32_t missing64, missingPlain, result;
        std::vector<uint32_t> asked;
        std::vector<void*> closed;
        bool open;
    } opens[] = {
        {2, 2, 2, {k64, kRead}, {}, false},
        {0, 0, 0, {k64}, {}, true},
        {5, 0, 0, {k64, kRead}, {&g_keys[1]}, true},
        {2, 2, 2, {k64, kRead}, {}, true},
    };
    {
        platform::RegKey key(kScriptedRegistry);
        for (const auto& c : opens) {
            g_registry = {c.missing64, c.missingPlain, {}, {}};
            EXPECT_EQ(key.Open(platform::RegistryRoot::kLocalMachine, u"SOFTWARE\\Orvane\\VELK", kRead), c.result);
            EXPECT_EQ(g_registry.asked, c.asked);
            EXPECT_EQ(g_registry.closed, c.closed);
            EXPECT_EQ(key.IsOpen(), c.open);
        }
        g_registry.closed.clear();
    }
    EXPECT_EQ(g_registry.closed, std::vector<void*>{&g_keys[0]});

    // Linux has no registry; on Windows a key every system has opens and a made-up one does not.
    platform::RegKey native;
    const bool windows = platform::kPathSeparator == u'\\';
    EXPECT_EQ(native.Open(platform::RegistryRoot::kLocalMachine, u"SOFTWARE\\Microsoft", kRead),
              windows ? 0 : platform::kRegistryKeyNotFound);
    EXPECT_EQ(native.IsOpen(), windows);
    EXPECT_EQ(native.Open(platform::RegistryRoot::kLocalMachine, u"SOFTWARE\\NoSuchVendor\\NoSuchKey", kRead),
              platform::kRegistryKeyNotFound);
}

TEST(Clock, TickCountAdvancesInMillisecondsAndLocalTimeIsACalendarDate) {
    const uint32_t before = platform::TickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const uint32_t elapsed = platform::TickCount() - before;
    EXPECT_GE(elapsed, 20u);
    EXPECT_LT(elapsed, 5000u);
    const platform::SystemTime t = platform::LocalTime();
    EXPECT_TRUE(t.wYear >= 2024 && t.wMonth >= 1 && t.wMonth <= 12 && t.wDay >= 1 && t.wDay <= 31 &&
                t.wDayOfWeek <= 6 && t.wHour <= 23 && t.wMinute <= 59 && t.wSecond <= 60 &&
                t.wMilliseconds <= 999)
        << t.wYear << "-" << t.wMonth << "-" << t.wDay << " (" << t.wDayOfWeek << ") " << t.wHour
        << ":" << t.wMinute << ":" << t.wSecond << "." << t.wMilliseconds;
}

// The child of the test below: it waits to be ended.
TEST(ParentWorker, DISABLED_Wait) { platform::SleepMilliseconds(30000); }

TEST(Process, AChildNamesThisProcessAsItsParentUntilItIsGone) {
    EXPECT_EQ(platform::ParentProcessId(0), 0u);
    const uint32_t child = platform::LaunchProgram(
        platform::ProcessImagePath(platform::CurrentProcessId()),
        {"--gtest_filter=ParentWorker.DISABLED_Wait", "--gtest_also_run_disabled_tests"});
    ASSERT_NE(child, 0u);
    EXPECT_EQ(platform::ParentProcessId(child), platform::CurrentProcessId());
    ASSERT_TRUE(platform::KillProcess(child));
    EXPECT_EQ(platform::ParentProcessId(child), 0u);
}

TEST(ReadableMemory, TerminatedTextIsReadToItsZeroWithinTheLimitAndNeverFromAnUnmappedPage) {
    const std::string longName(6000, 'n');  // spans pages
    // The lowest pages of an address space are never mapped, here or under Wine.
    const char* const unmapped = reinterpret_cast<const char*>(uintptr_t{0x1000});
    const struct {
        const char* why;
        const char* from;
        size_t limit;
        std::string expected;
    } cases[] = {
        {"to its zero", "calc.exe", 100, "calc.exe"},
        {"across pages", longName.c_str(), 32767, longName},
        {"cut at the limit", longName.c_str(), 10, std::string(10, 'n')},
        {"nothing from an unmapped page", unmapped, 100, ""},
        {"nothing from null", nullptr, 100, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::ReadTerminatedText(c.from, c.limit), c.expected) << c.why;
    char copy[16] = {};
    EXPECT_EQ(platform::CopyReadable(unmapped, copy, sizeof copy), 0u);
}

// Every plane both ways; ill-formed UTF-8 and unpaired surrogates become replacement characters.
TEST(Utf8, ConvertsEveryPlaneAndReplacesWhatIsIllFormed) {
    enum Way { kBoth, kToUtf8, kFromUtf8 };
    const struct {
        const char* why;
        std::string utf8;
        std::u16string utf16;
        Way way;
    } cases[] = {
        {"empty", "", u"", kBoth},
        {"two-byte and four-byte", "caf\xC3\xA9\xF0\x9F\x98\x80", u"caf\u00e9\U0001F600", kBoth},
        {"three-byte and the last plane", "\xE4\xB8\xAD \xF4\x8F\xBF\xBF", u"\u4e2d \U0010FFFF", kBoth},
        {"a zero inside", std::string("a\0b", 3), std::u16string(u"a\0b", 3), kBoth},
        {"unpaired high surrogate", "\xEF\xBF\xBD", std::u16string(1, char16_t(0xD800)), kToUtf8},
        {"unpaired low surrogate", "\xEF\xBF\xBD" "a", std::u16string{char16_t(0xDC00), u'a'}, kToUtf8},
        {"lone continuation", "a\x80z", u"a\uFFFDz", kFromUtf8},
        {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD", kFromUtf8},
        {"overlong three-byte", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD", kFromUtf8},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", kFromUtf8},
        {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", kFromUtf8},
        {"truncated at end", "x\xE4\xB8", u"x\uFFFD", kFromUtf8},
        {"truncated before ASCII", "\xF0\x9F" "A", u"\uFFFD" u"A", kFromUtf8},
        {"invalid lead", "\xFF", u"\uFFFD", kFromUtf8},
    };
    for (const auto& c : cases) {
        if (c.way != kFromUtf8) {
            EXPECT_EQ(platform::ToUtf8(c.utf16), c.utf8) << c.why;
        }
        if (c.way != kToUtf8) {
            EXPECT_EQ(platform::FromUtf8(c.utf8), c.utf16) << c.why;
        }
    }
}

// The code page's conversion counts, then converts; the bounded UTF-8 conversion refuses no
// room at all (its other bounds are those of the feedback writer's texts: protobuf_serialize_test).
TEST(CodePageText, CountsThenConvertsAndNothingWithoutRoom) {
    char bytes[4] = {'#'};
    EXPECT_EQ(platform::Utf16ToUtf8(u"a", bytes, 0), 0);
    EXPECT_EQ(bytes[0], '#');
    EXPECT_EQ(platform::Utf16ToUtf8(u"a", nullptr, 4), 0);
    const char* text = "Report";
    EXPECT_EQ(platform::AnsiToUtf16(text, 6, nullptr, 0), 6);
    char16_t out[8] = {};
    EXPECT_EQ(platform::AnsiToUtf16(text, 6, out, 8), 6);
    EXPECT_EQ(std::u16string(out), u"Report");
    EXPECT_EQ(platform::AnsiToUtf16(text, 6, out, 3), 0);  // too small: nothing converted
    EXPECT_EQ(platform::AnsiToUtf16(text, -1, nullptr, 0), 7);  // with the terminator
    EXPECT_EQ(platform::AnsiToUtf16(nullptr, 3, out, 8), 0);
    EXPECT_EQ(platform::AnsiToUtf16(text, 0, out, 8), 0);
}

}  // namespace
