// The two functions the wrapper lends to the engine. The engine calls them on its own threads
// at any time after they were set; they touch no wrapper member, only the host.
#include <algorithm>
#include <cstring>

#include "engine/wrapper_diag.h"
#include "engine/zef_engine_wrapper.h"
#include "host/call_records.h"
#include "host/result_codes.h"
#include "host/plugin_interface_class.h"

using engine_diag::kDiag;

namespace engine_callbacks {
namespace {

constexpr uint32_t kImagePathUnits = 262;

bool IsCloudFile(const void* file) {
    PluginInterfaceClass systemInfo(g_pEngineHost, velk::kSystemInfoModule,
                                    velk::kSystemInfoInterface);
    if (!systemInfo.IsValid()) return false;
    velk::CloudFileQuery query{file, 0};
    uint8_t isCloud = 0;
    const uint32_t result = systemInfo.Call(velk::kFnIsCloudFile, &query, &isCloud);
    return velk::Succeeded(result) && isCloud != 0;
}

}  // namespace

uint32_t GetImagePathByUtilSysInfo(uint32_t processId, std::u16string* imagePath) {
    PluginInterfaceClass systemInfo(g_pEngineHost, velk::kSystemInfoModule,
                                    velk::kSystemInfoInterface);
    if (!systemInfo.IsValid()) return 0;
    velk::ImagePathRequest request{processId, 1};
    char16_t path[kImagePathUnits] = {};
    uint8_t details[56] = {};
    velk::ImagePathReply reply{path, kImagePathUnits, details};
    // Only this exact answer means the host found the image.
    if (systemInfo.Call(velk::kFnGetImagePath, &request, &reply) != velk::kImagePathFound) {
        return 0;
    }
    path[kImagePathUnits - 1] = u'\0';
    if (imagePath != nullptr) *imagePath = path;
    kDiag.Write(util::kDiagTrace, __LINE__, u"GetImagePathByUtilSysInfo, ImagePath=",
                static_cast<const char16_t*>(path));
    return 1;
}

uint32_t ReadBackupFileData(const uint8_t* fileKey, uint32_t keyLength, const void* file,
                            void* buffer, uint64_t /*reserved*/, uint32_t a, uint32_t b,
                            uint32_t c, uint32_t* bytesRead) {
    uint32_t result = velk::kNotDone;
    if (IsCloudFile(file)) {
        kDiag.Write(util::kDiagError, 91, u"[VELK] cloud file find ,return");
        return velk::kNotDone;
    }
    PluginInterfaceClass storage(g_pEngineHost, velk::kStorageModule, velk::kStorageInterface);
    if (storage.IsValid()) {
        velk::BackupDataReadRequest request{};
        if (fileKey != nullptr) {
            std::memcpy(request.key, fileKey, std::min<uint32_t>(keyLength, sizeof request.key));
        }
        request.a = a;
        request.b = b;
        request.c = c;
        velk::BackupDataReadReply reply{buffer, 0};
        result = storage.Call(velk::kFnReadBackupFileData, &request, &reply);
        if (bytesRead != nullptr) *bytesRead = reply.bytesRead;
        if (velk::Succeeded(result)) return result;
    }
    kDiag.Write(util::kDiagError, 115, u"[VELK]Tarn read backup file data failed, errCode=", result);
    return result;
}

}  // namespace engine_callbacks
