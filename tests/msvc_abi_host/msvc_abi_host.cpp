// A host built for the MSVC C++ ABI (clang, x86_64-pc-windows-msvc, no C runtime) drives the
// GCC-built PlugEngineZef.dll through what only such a host shows: its host service object, the
// interface object's slots (virtual destructor first), the plug-in's message objects, and host
// message objects of this compiler's layout with guard bytes after them. It runs beside
// Morrick.dll, Quastle.dll and the scriptable fake engine as Zef.dll, prints a line per check
// and exits with the number of failed checks.
#include <stddef.h>
#include <stdint.h>

// ---- The few kernel32 functions used, declared here: nothing else is linked. -------------

extern "C" {
__declspec(dllimport) void* __stdcall LoadLibraryW(const wchar_t* path);
__declspec(dllimport) void* __stdcall GetProcAddress(void* module, const char* name);
__declspec(dllimport) int __stdcall FreeLibrary(void* module);
__declspec(dllimport) uint32_t __stdcall GetModuleFileNameW(void* module, wchar_t* path,
                                                            uint32_t capacity);
__declspec(dllimport) void* __stdcall GetStdHandle(uint32_t which);
__declspec(dllimport) int __stdcall WriteFile(void* file, const void* bytes, uint32_t count,
                                              uint32_t* written, void* overlapped);
__declspec(dllimport) void __declspec(noreturn) __stdcall ExitProcess(uint32_t code);
__declspec(dllimport) uint32_t __stdcall GetLastError();

// The compiler may call these for copies and zero-fills; the volatile keeps it from turning
// the loops back into calls to themselves.
void* memset(void* to, int value, size_t count) {
    volatile unsigned char* bytes = static_cast<unsigned char*>(to);
    for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>(value);
    return to;
}
void* memcpy(void* to, const void* from, size_t count) {
    volatile unsigned char* out = static_cast<unsigned char*>(to);
    const unsigned char* in = static_cast<const unsigned char*>(from);
    for (size_t i = 0; i < count; ++i) out[i] = in[i];
    return to;
}
}

// A virtual destructor's deleting form refers to this; nothing here is made with new.
void operator delete(void*) noexcept {}
void operator delete(void*, size_t) noexcept {}

namespace {

// ---- Output -------------------------------------------------------------------------------

uint32_t g_failures = 0;

void Print(const char* text) {
    uint32_t length = 0;
    while (text[length] != 0) ++length;
    uint32_t written = 0;
    WriteFile(GetStdHandle(static_cast<uint32_t>(-11)), text, length, &written, nullptr);
}

void PrintHex(const char* label, uint64_t value) {
    char text[] = "0x0000000000000000";
    for (int i = 0; i < 16; ++i) text[2 + i] = "0123456789abcdef"[(value >> (60 - 4 * i)) & 0xF];
    Print(label);
    Print(text);
}

// One line per check; a failed comparison also shows what came.
void CheckEqual(uint64_t actual, uint64_t expected, const char* what) {
    Print(actual == expected ? "ok      " : "FAILED  ");
    Print(what);
    if (actual != expected) {
        PrintHex(": got ", actual);
        ++g_failures;
    }
    Print("\r\n");
}
void Check(bool passed, const char* what) { CheckEqual(passed, true, what); }

// Fills a table of function pointers from the module's exports of these names, in order.
template <typename Table, size_t kCount>
bool Resolve(void* module, const char* const (&names)[kCount], Table& table) {
    static_assert(sizeof(Table) == kCount * sizeof(void*), "one name per function");
    void* functions[kCount] = {};
    for (size_t i = 0; i < kCount; ++i) {
        functions[i] = module != nullptr ? GetProcAddress(module, names[i]) : nullptr;
        if (functions[i] == nullptr) return false;
    }
    memcpy(&table, functions, sizeof table);
    return true;
}

// ---- The message-buffer library, resolved by name ------------------------------------------

struct Handle {
    uint64_t lo, hi;
};

struct Morrick {
    uint32_t (*Create)(uint32_t nameId, Handle* handle);
    uint32_t (*Destroy)(Handle* handle);
    uint32_t (*PutData)(Handle parent, Handle child);
    uint32_t (*PutInt32)(Handle handle, uint32_t nameId, int32_t value);
    uint32_t (*PutUInt32)(Handle handle, uint32_t nameId, uint32_t value);
    uint32_t (*GetInt32At)(Handle handle, uint32_t nameId, uint32_t index, int32_t* value);
    uint32_t (*GetDataAt)(Handle handle, uint32_t nameId, uint32_t index, Handle* target);
};
const char* const kMorrickNames[] = {
    "VELK_Msg_CreateDataHandle", "VELK_Msg_DestroyDataHandle", "VELK_Msg_PutData",
    "VELK_Msg_PutInt32", "VELK_Msg_PutUInt32", "VELK_Msg_GetInt32At", "VELK_Msg_GetDataAt"};
Morrick g_morrick;

int32_t FieldOf(Handle record, uint32_t nameId) {
    int32_t value = -1;
    g_morrick.GetInt32At(record, nameId, 0, &value);
    return value;
}

// ---- Message objects as this compiler lays them out ----------------------------------------

// A host's message class: its destructor is its one virtual function (one slot: the scalar
// deleting destructor), then the handle, then this compiler's map of read cursors, which is a
// head-node pointer and a size.
struct HostMessage {
    explicit HostMessage(uint32_t nameId = 0) { g_morrick.Create(nameId, &handle); }
    virtual ~HostMessage() { g_morrick.Destroy(&handle); }

    Handle handle{};
    void* cursorHead = nullptr;
    size_t cursorCount = 0;
};
static_assert(sizeof(HostMessage) == 40, "this compiler's message object is 40 bytes");

// A host message followed by guard bytes that nobody may write.
struct GuardedMessage {
    HostMessage message;
    unsigned char guard[64];

    GuardedMessage() { memset(guard, 0xA5, sizeof guard); }
    bool GuardIntact() const {
        for (unsigned char byte : guard) {
            if (byte != 0xA5) return false;
        }
        return message.cursorHead == nullptr && message.cursorCount == 0;
    }
};

// How this compiler sees a message object the plug-in hands to a host interface.
struct PluginMessage {
    virtual ~PluginMessage() = default;
    Handle handle;
};

// ---- The plug-in as a host declares it -----------------------------------------------------

struct ModuleVersion {
    uint32_t major, minor, build, reserved;
};

struct ICommonPluginInterface {
    virtual ~ICommonPluginInterface() = default;  // slot 0: the scalar deleting destructor
    virtual uint32_t GetModuleID() = 0;
    virtual uint32_t GetInterfaceID() = 0;
    virtual void GetModuleVersion(ModuleVersion* version) = 0;
    virtual uint32_t CallFunc(uint32_t functionId, void* input, void* output) = 0;
};

struct HostService;

// The exports this host calls (in their order in the names below).
struct Exports {
    uint32_t (*Initialize)(HostService* host);
    uint32_t (*PostInitialize)();
    uint32_t (*PreUninitialize)();
    uint32_t (*Uninitialize)();
    ICommonPluginInterface* (*QueryInterface)(uint32_t interfaceId);
    uint32_t (*OnNotify)(int32_t notificationId, void* input, void* output);
};
const char* const kExportNames[] = {
    "Plugin_Interface_Initialize", "Plugin_Interface_PostInitialize",
    "Plugin_Interface_PreUninitialize", "Plugin_Interface_Uninitialize",
    "Plugin_Interface_QueryInterface", "Plugin_Interface_OnNotify"};

// The fake engine's control: what an entry point of the engine answers from now on.
using SetResult = void (*)(const char* entryPoint, uint64_t result);

constexpr uint32_t kSuccess = 0x20FF0000;
constexpr uint32_t kPatternCorrupted = 0xE0360008;

// ---- The host service object: an ordinary class of this compiler, three slots --------------

constexpr uint64_t Pair(uint32_t module, uint32_t interfaceId) {
    return module | (uint64_t{interfaceId} << 32);
}
constexpr uint64_t kEventProcessor = Pair(3, 31);
constexpr uint64_t kStorage = Pair(20001, 200011);

// The input of AddDBProtection and RemoveDBProtection.
struct DbProtectionRequest {
    uint64_t one, three;
    const char16_t* folder;
    uint32_t folderLength, one32;
};

struct HostService {
    // Slot 0. Offers the event processor and the storage service: calls through them below show
    // that the plug-in asked for their pairs.
    virtual void* QueryHostInterface(uint64_t pair) {
        ++asked;
        for (uint64_t& offered : offeredPairs) {
            if (offered == pair) return &offered;
        }
        return nullptr;
    }
    // Slot 1. Every interface obtained comes back here (a refused one as null).
    virtual void ReleaseHostInterface(void*) { ++givenBack; }
    // Slot 2. Registrations arrive as the plug-in's own message objects, read as this compiler
    // would, protection requests as their documented structure (the stop's removals too).
    virtual uint32_t CallHostInterface(void* hostInterface, uint32_t functionId, void* input,
                                       void* output) {
        if (hostInterface == &offeredPairs[0]) {
            const auto* message = static_cast<const PluginMessage*>(input);
            badRegistrations += message == nullptr || output != nullptr ||
                                FieldOf(message->handle, 0x207D1) != 10012 ||
                                FieldOf(message->handle, 0x207D2) != 100121;
            registered += functionId == 0x5E23;
        } else if (hostInterface == &offeredPairs[1]) {
            const auto* request = static_cast<const DbProtectionRequest*>(input);
            badProtections += request == nullptr || request->one != 1 || request->three != 3 ||
                              request->folder == nullptr || request->folderLength == 0 || request->one32 != 1;
            protectedFolders += functionId == 0xACB4;
        } else {
            ++callsOnUnknownInterfaces;
            return 0xE0FF0002;
        }
        return kSuccess;
    }

    uint64_t offeredPairs[2] = {kEventProcessor, kStorage};
    uint32_t asked = 0, givenBack = 0, callsOnUnknownInterfaces = 0;
    uint32_t registered = 0, badRegistrations = 0, protectedFolders = 0, badProtections = 0;
};

// ---- Modules beside this program -----------------------------------------------------------

// Frames stay below one page: the build links no stack probe, so a larger frame fails to link
// (an undefined __chkstk) instead of skipping the stack's guard page at run time.
constexpr uint32_t kPathUnits = 300;

// Loads <folder of this program>\name.
void* LoadBeside(const wchar_t* name) {
    wchar_t path[kPathUnits] = {};
    const uint32_t length = GetModuleFileNameW(nullptr, path, kPathUnits);
    uint32_t end = 0;  // just past the last separator
    for (uint32_t i = 0; i < length; ++i) end = path[i] == L'\\' ? i + 1 : end;
    for (uint32_t i = 0; name[i] != 0 && end + 1 < kPathUnits; ++i) path[end++] = name[i];
    path[end] = 0;  // the program's own name was longer, perhaps
    void* module = LoadLibraryW(path);
    if (module == nullptr) PrintHex("        cannot load it, error ", GetLastError());
    return module;
}

// ---- The run -------------------------------------------------------------------------------

// The interface object's slots, reached through this compiler's table.
void CheckInterfaceObject(ICommonPluginInterface* object, SetResult setResult) {
    CheckEqual(object->GetModuleID(), 10012, "slot 1 GetModuleID is 10012");
    CheckEqual(object->GetInterfaceID(), 100121, "slot 2 GetInterfaceID is 100121");
    ModuleVersion version{9, 9, 9, 9};
    object->GetModuleVersion(&version);
    Check(version.major == 2 && version.minor == 0 && version.build == 1045 && version.reserved == 0,
          "slot 3 GetModuleVersion fills 2, 0, 1045, 0");
    setResult("GetSupportFileMaxSize", 0x1234567);
    uint32_t size = 0;
    constexpr uint32_t kMaxFileSize = 0x2360000A;
    CheckEqual(object->CallFunc(kMaxFileSize, nullptr, &size), kSuccess,
               "slot 4 CallFunc serves the maximum file size");
    CheckEqual(size, 0x1234567, "slot 4 CallFunc passes the output pointer through");
}

void AddComponent(HostMessage& message, int32_t type) {
    Handle entry{};
    g_morrick.Create(0x100B5, &entry);
    g_morrick.PutUInt32(entry, 0x20001, 0);
    g_morrick.PutInt32(entry, 1, type);
    g_morrick.PutData(message.handle, entry);
    g_morrick.Destroy(&entry);
}

// Host message objects in and out: the plug-in reads and writes them through the handle alone.
void CheckNotifications(const Exports& plugin, SetResult setResult) {
    GuardedMessage input, output;
    CheckEqual(plugin.OnNotify(4109, nullptr, &output.message), kSuccess,
               "notification 4109 answers module information");
    Handle information{};
    g_morrick.Create(0, &information);
    g_morrick.GetDataAt(output.message.handle, 0x10018, 0, &information);
    CheckEqual(static_cast<uint32_t>(FieldOf(information, 1)), 10012,
               "the module information record arrives in the host's object");
    g_morrick.Destroy(&information);
    Check(output.GuardIntact(), "4109 wrote nothing of the output object but its record");

    // A pattern record first, then a module record: with a corrupted pattern only the first
    // read is refused, so the second call must read the second record of the same object.
    AddComponent(input.message, 3);
    AddComponent(input.message, 2);
    setResult("IsPatternValid", 1);
    CheckEqual(plugin.OnNotify(4116, &input.message, nullptr), kPatternCorrupted,
               "notification 4116 reads the first record: a corrupted pattern");
    CheckEqual(plugin.OnNotify(4116, &input.message, nullptr), kSuccess,
               "4116 again on the same object reads the second record");
    Check(input.GuardIntact(), "4116 changed no byte after the host object's handle");
    setResult("IsPatternValid", 0);
}

void Run() {
    void* morrick = LoadBeside(L"Morrick.dll");
    Check(Resolve(morrick, kMorrickNames, g_morrick), "Morrick.dll loads with its functions");
    void* module = LoadBeside(L"PlugEngineZef.dll");
    Exports plugin{};
    Check(Resolve(module, kExportNames, plugin), "PlugEngineZef.dll loads with its exports");
    if (g_failures != 0) return;

    HostService host;
    CheckEqual(plugin.Initialize(&host), kSuccess, "Plugin_Interface_Initialize");
    CheckEqual(plugin.PostInitialize(), kSuccess, "Plugin_Interface_PostInitialize");
    CheckEqual(host.registered, 3, "three event registrations at the start, on the event processor (3, 31)");
    CheckEqual(host.protectedFolders, 1, "the database folder protected through the storage (20001, 200011)");

    void* engineModule = LoadBeside(L"Zef.dll");  // the engine the plug-in loaded
    const auto setResult = reinterpret_cast<SetResult>(
        engineModule != nullptr ? GetProcAddress(engineModule, "FakeZef_SetResult") : nullptr);
    Check(setResult != nullptr, "the engine beside the plug-in is the scriptable one");
    if (setResult == nullptr) return;

    ICommonPluginInterface* object = plugin.QueryInterface(100121);
    Check(object != nullptr, "Plugin_Interface_QueryInterface(100121) gives the object");
    if (object != nullptr) CheckInterfaceObject(object, setResult);
    CheckNotifications(plugin, setResult);

    CheckEqual(plugin.PreUninitialize(), kSuccess, "Plugin_Interface_PreUninitialize");
    CheckEqual(plugin.Uninitialize(), kSuccess, "Plugin_Interface_Uninitialize");
    CheckEqual(host.badRegistrations, 0,
               "registrations arrive as message objects with the handle after the table");
    CheckEqual(host.badProtections, 0, "protection requests have their documented layout");
    CheckEqual(host.callsOnUnknownInterfaces, 0, "no call through an interface not given");
    CheckEqual(host.givenBack, host.asked, "every interface asked for was given back");

    FreeLibrary(engineModule);
    Check(FreeLibrary(module) != 0, "PlugEngineZef.dll unloads");
    FreeLibrary(morrick);
}

}  // namespace

extern "C" void HostMain() {
    Run();
    Print(g_failures == 0 ? "all checks passed\r\n" : "some checks failed\r\n");
    ExitProcess(g_failures);
}
