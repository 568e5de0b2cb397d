// CZefEngineWrapper: construction, identity, the engine load and the state queries.
#include "engine/zef_engine_wrapper.h"

#include "engine/wrapper_diag.h"
#include "util/utf16.h"

IHostService* g_pEngineHost = nullptr;
util::StripedCounter g_nInFlightCalls;

CZefEngineWrapper::CZefEngineWrapper(const char16_t* enginePath, IHostService* hostService,
                                     const platform::FileOps& reportFiles,
                                     util::CLogger::TickSource reportTicks)
    : m_Logger(reportFiles, reportTicks) {
    g_pEngineHost = hostService;
    const size_t length = util::Utf16Length(enginePath);
    if (length < kEnginePathUnits) {
        std::char_traits<char16_t>::copy(m_szEnginePath, enginePath, length);
        m_szEnginePath[length] = u'\0';
    }
}

CZefEngineWrapper::~CZefEngineWrapper() = default;

void* CZefEngineWrapper::DeletingDestructor(uint32_t flags) {
    if (flags & 1u) {
        delete this;
    } else {
        this->~CZefEngineWrapper();
    }
    return this;
}

uint32_t CZefEngineWrapper::GetModuleID() { return kPluginModuleId; }

uint32_t CZefEngineWrapper::GetInterfaceID() { return kPluginInterfaceId; }

void CZefEngineWrapper::GetModuleVersion(ModuleVersion* version) {
    if (version == nullptr) return;
    *version = ModuleVersion{2, 0, 1045, 0};
}

bool CZefEngineWrapper::LoadEngine() {
    m_entries.m_hEngineModule = platform::LoadModuleByPath(m_szEnginePath);
    if (m_entries.m_hEngineModule == nullptr) return false;
    return engine_binding::ResolveEntryPoints(m_entries, nullptr);
}

bool CZefEngineWrapper::IsPatternUsable() const {
    if (!IsStarted()) return true;
    return m_entries.IsPatternValid(PatternPath.c_str()) == 0;
}
