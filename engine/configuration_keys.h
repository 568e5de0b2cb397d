// The host's configuration keys of the engine's thirteen settings.
#pragma once
#include <cstdint>

namespace engine_config {

constexpr uint32_t VELK_CFG_ZEF_DEBUG_LEVEL = 0x03670001;
constexpr uint32_t VELK_CFG_ZEF_DB_SIZE = 0x03670004;
constexpr uint32_t VELK_CFG_ZEF_DB_PATH = 0x03620003;
constexpr uint32_t VELK_CFG_ZEF_PATTERN_PATH = 0x03620005;
constexpr uint32_t VELK_CFG_ZEF_DEBUG_LOG_PATH = 0x03620002;
constexpr uint32_t VELK_CFG_ZEF_FEEDBACK_SWITCH = 0x03670006;
constexpr uint32_t VELK_CFG_ZEF_HISTORY_KEEP_DAYS = 0x03670008;
constexpr uint32_t VELK_CFG_ZEF_SECURITY_LEVEL = 0x03670007;
constexpr uint32_t VELK_CFG_ZEF_ENABLE = 0x03610009;
constexpr uint32_t VELK_CFG_ZEF_WORK_MODE = 0x0367000A;
constexpr uint32_t VELK_CFG_ZEF_PER_PROCESS_BACKUP_QUOTA = 0x0367000B;
constexpr uint32_t VELK_CFG_ZEF_MAX_BACKUP_FILE_SIZE = 0x0367000C;
constexpr uint32_t VELK_CFG_ZEF_MAX_BACKUP_FILE_SIZE_PID_MODE = 0x0367000D;

// The action of a configuration query batch, and the command type of its get commands.
constexpr uint32_t kQueryAction = 2;
constexpr uint32_t kGetCommand = 4;

}  // namespace engine_config
