// Configuration batches: one command per key, carried in a host message record (the
// configuration wire format). A batch is built, serialised and sent, or parsed and read, by one
// thread; batches share their implementation and are never copied.
#pragma once
#include <cstdint>
#include <map>
#include <string>

#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>

#include "config/config_command.h"

namespace config {

// Message name ids of a batch record.
constexpr uint32_t CFGMSG_BATCH = 0x70001;
constexpr uint32_t CFGMSG_ACTION = 0x70003;
constexpr uint32_t CFGMSG_HEADER = 0x20515;

// The batch header: sent all zero, read back and kept, never used.
struct CConfigBatchHeader {
    char Text0[37];
    char Text1[37];
    char Text2[37];
    char16_t WideText[128];
    uint32_t Number0;
    uint32_t Number1;
    uint32_t Number2;
    uint32_t Number3;
};

class CConfigBatchCommandsImp {
public:
    virtual ~CConfigBatchCommandsImp() = default;
    CConfigBatchHeader header{};
    uint32_t action = 0;
    std::map<uint32_t, boost::shared_ptr<IConfigCommand>> commands;  // ascending key order
};

class CConfigBatchCommands : private boost::noncopyable {
public:
    // An outgoing batch with that action and no commands.
    explicit CConfigBatchCommands(uint32_t action);
    // A batch parsed from a batch record; missing parts read as zero or empty.
    explicit CConfigBatchCommands(const VELK_DataHandleWrapper& message);
    virtual ~CConfigBatchCommands() = default;

    // Adds a command whose value takes the initial value's own type; a key already present
    // keeps its first command. 0xE0FF0007 without an implementation or memory for the command.
    template <typename T>
    uint32_t AddCommand(uint32_t commandType, uint32_t key, const T& initialValue) {
        if (!m_imp) return 0xE0FF0007;
        boost::shared_ptr<IConfigCommand> command = MakeCommand(commandType, key);
        if (!command) return 0xE0FF0007;
        command->SetValue(initialValue);
        m_imp->commands.emplace(command->GetNameId(), command);
        return 0x20FF0000;
    }

    // Writes the batch record and makes the output wrapper hold it; 0x20FF0000, or the last
    // failure of a command's serialisation.
    uint32_t Serialize(VELK_DataHandleWrapper& output) const;

    // The value of the command with that key, converted to the variable's type; 0xE0FF0007
    // when the key is absent, the command's status when the host failed it.
    template <typename T>
    uint32_t GetValue(uint32_t key, T& value) const {
        const IConfigCommand* command = Find(key);
        return command != nullptr ? command->GetValue(value) : 0xE0FF0007;
    }

    // Marks a key's command with a status (a host answering a query sets failures so);
    // 0xE0FF0007 when the key is absent.
    uint32_t SetStatus(uint32_t key, uint32_t status);

    bool IsValid() const { return m_imp != nullptr; }
    const CConfigBatchHeader* Header() const { return m_imp ? &m_imp->header : nullptr; }
    uint32_t Action() const { return m_imp ? m_imp->action : 0; }
    uint32_t CommandCount() const { return m_imp ? static_cast<uint32_t>(m_imp->commands.size()) : 0; }
    const IConfigCommand* Find(uint32_t key) const;
    // Calls visit(const IConfigCommand&) for every command, in ascending key order.
    template <typename Visit>
    void ForEachCommand(Visit visit) const {
        if (!m_imp) return;
        for (const auto& entry : m_imp->commands) visit(*entry.second);
    }

private:
    static boost::shared_ptr<IConfigCommand> MakeCommand(uint32_t commandType, uint32_t key);
    boost::shared_ptr<CConfigBatchCommandsImp> m_imp;
};

}  // namespace config
