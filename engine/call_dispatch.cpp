// CallFunc: every host call counted while under way, refused unless the engine is started,
// then dispatched by function id: group A whenever started, group B only while enabled. The
// records the engine fills live on the calling thread's stack; nothing is allocated.
#include "engine/version_walk.h"
#include "engine/zef_engine_wrapper.h"
#include "engine/zef_time.h"
#include "host/call_records.h"
#include "host/result_codes.h"
#include "util/admission_delay.h"

using engine_walk::StorageConnection;

uint32_t CZefEngineWrapper::CallFunc(uint32_t functionId, void* input, void* output) {
    // A stopped wrapper refuses at once, without touching the count, so that callers that keep
    // knocking cannot hold StopEngine's drain up.
    if (!IsStarted()) return velk::kZefNotRunning;
    util::HoldBeforeTheCount<PEZ_WRAPPER_ADMISSION_DELAY_US>();  // test builds only
    const util::CountedCall counted(g_nInFlightCalls);  // before the flag is read again
    return CallFuncCounted(functionId, input, output);
}

uint32_t CZefEngineWrapper::CallFuncCounted(uint32_t functionId, void* input, void* output) {
    // StopEngine clears the flag before it waits for the count, which holds this call: either
    // the flag read here is clear, or StopEngine waits until the call has returned.
    const uint64_t state = m_state.load();
    if ((state & kStartedBit) == 0) return velk::kZefNotRunning;
    if (IsGroupA(functionId)) {
        const uint32_t result = DispatchGroupA(functionId, input, output);
        // A failure goes on to group B, which holds none of group A's ids. The enabled flag is
        // read again: a configuration change may just have set it.
        if (velk::Succeeded(result) || !IsEnabled()) return result;
        return velk::kNotHandled;
    }
    // Group A answers 0xE0FF0007 to every other id without calling anything.
    if ((state & kEnabledBit) == 0) return velk::kBadArgument;
    return DispatchGroupB(functionId, input, output);
}

uint32_t CZefEngineWrapper::DispatchGroupA(uint32_t functionId, void* input, void* output) {
    if (functionId == velk::kFnQueryPatternPolicies) return QueryPatternPolicies(input, output);
    if (input != nullptr) {
        const uint32_t kind = *static_cast<const uint32_t*>(input);
        if (kind == velk::kKindConfigurationChanged) return OnConfigurationChanged(input, output);
        if (kind == velk::kKindBootResults) return SendBootResults(input, output);
    }
    return velk::kBadArgument;
}

uint32_t CZefEngineWrapper::DispatchGroupB(uint32_t functionId, void* input, void* output) {
    switch (functionId) {
        case velk::kFnRestoreFile:
            return RestoreFile(input, output);
        case velk::kFnRestoreEdition:
            return RestoreEdition(input, output);
        case velk::kFnEnumFileVersions:
            return EnumFileVersions(input);
        case velk::kFnEnumFileVersionInfo:
            return EnumFileVersionInfo(input);
        case velk::kFnEnumProcessVersions:
            return EnumProcessVersions(input);
        case velk::kFnListBackupFiles:
            return ListBackupFiles(input, false);
        case velk::kFnListBackupFilesInRange:
            return ListBackupFiles(input, true);
        case velk::kFnDeleteEdition: {
            if (input == nullptr) return velk::kBadArgument;
            const auto* request = static_cast<const velk::EditionDeleteRequest*>(input);
            StorageConnection connected(m_entries);
            return m_entries.DeleteEditionByEditionID(request->editionId) != 0 ? velk::kSuccess
                                                                             : 0xE0360007;
        }
        case velk::kFnBackupFile: {
            const auto* request = static_cast<const velk::BackupFileRequest*>(input);
            if (request == nullptr || request->filePath == nullptr) return velk::kBadArgument;
            return m_entries.BackupFile(request->filePath) == 0 ? velk::kSuccess : 0xE0360006;
        }
        case velk::kFnFlushEvents:
            m_entries.FlushEvents();
            return velk::kSuccess;
        case velk::kFnMaxFileSize: {
            if (output == nullptr) return velk::kBadArgument;
            const uint32_t size = m_entries.GetSupportFileMaxSize();
            *static_cast<uint32_t*>(output) = size;  // also when the engine had none
            return size != 0 ? velk::kSuccess : 0xE0360008;
        }
        case velk::kFnFlushValidEvents:
            m_entries.FlushValidEvents();
            return velk::kSuccess;
        case velk::kFnForwardEvent:
            return ForwardEvent(static_cast<const velk::EventRecord*>(input),
                                static_cast<uint32_t*>(output));
        case velk::kFnUpdatePidList: {
            if (input == nullptr) return velk::kBadArgument;
            const auto* request = static_cast<const velk::PidListUpdateRequest*>(input);
            return m_entries.UpdateObjPidList(request->first, request->second) == 0 ? velk::kSuccess
                                                                                   : 0xE0360006;
        }
        default:
            return velk::kNotHandled;
    }
}

uint32_t CZefEngineWrapper::ListBackupFiles(const void* input, bool inRange) {
    if (input == nullptr) return velk::kBadArgument;
    uint64_t context = 0, parameter = 0;
    velk::BackupFileCallback callback = nullptr;
    uint32_t from = 0, to = 0;
    if (inRange) {
        const auto* request = static_cast<const velk::BackupFileRangeRequest*>(input);
        context = request->context;
        callback = request->callback;
        parameter = request->parameter;
        from = engine_time::ZefTimeFromSystemTime(&request->from);
        to = engine_time::ZefTimeFromSystemTime(&request->to);
    } else {
        const auto* request = static_cast<const velk::BackupFileListRequest*>(input);
        context = request->context;
        callback = request->callback;
        parameter = request->parameter;
    }
    if (callback == nullptr) return velk::kBadArgument;

    StorageConnection connected(m_entries);
    zef::BackupFileFindData data{};
    // Both times go by address, also when they are 0.
    zef::FindHandle find = inRange ? m_entries.FindFirstBackupFileEx(&from, &to, &data)
                                   : m_entries.FindFirstBackupFile(&data);
    if (find != nullptr) {
        while (callback(context, &data.info, parameter, 0) != 0 &&
               m_entries.FindNextBackupFile(find, &data) != 0) {
        }
        m_entries.FindBackupFileClose(find);
    }
    return velk::kSuccess;
}
