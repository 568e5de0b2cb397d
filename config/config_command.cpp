// CConfigCommand: parsing, serialising and dispatching one command.
#include "config/config_command.h"

namespace config {

CConfigCommand::CConfigCommand(const VELK_DataHandleWrapper& record)
    : m_commandType(0), m_key(0), m_status(0xE0FF0001) {
    record.GetUInt32At(CFGMSG_COMMAND_TYPE, m_commandType);
    record.GetUInt32At(CFGMSG_NAME_ID, m_key);
    int32_t status = static_cast<int32_t>(m_status);
    record.GetInt32At(CFGMSG_STATUS, status);
    m_status = static_cast<uint32_t>(status);
    m_value = CreateConfigValue(record);
}

uint32_t CConfigCommand::SetStatus(const uint32_t& status) {
    m_status = status;
    return 0x20FF0000;
}

uint32_t CConfigCommand::Serialize(VELK_DataHandleWrapper& record) const {
    if (!m_value) return 0xE0FF0007;
    record.PutInt32(CFGMSG_COMMAND_TYPE, static_cast<int32_t>(m_commandType));
    record.PutUInt32(CFGMSG_NAME_ID, m_key);
    record.PutInt32(CFGMSG_STATUS, static_cast<int32_t>(m_status));
    m_value->Serialize(record);
    return 0x20FF0000;
}

uint32_t CConfigCommand::Dispatch(IConfigCommandHandler* handler) {
    if (handler == nullptr || !m_value) return 0xE0FF0007;
    switch (m_commandType) {
        case 1: m_status = handler->HandleType1(*this); break;
        case 2: m_status = handler->HandleType2(*this); break;
        case 3: m_status = handler->HandleType3(*this); break;
        case 4: m_status = handler->HandleType4(*this); break;
        case 5: m_status = handler->HandleType5(*this); break;
        case 6: m_status = handler->HandleType6(*this); break;
        default: m_status = 0xE0FF0001; break;
    }
    return m_status;
}

}  // namespace config
