// One configuration command: a key, a command type, the host's status and a typed value.
// Reading a value through a command whose status is a failure answers that status.
#pragma once
#include <cstdint>
#include <string>

#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>

#include "config/config_value.h"

namespace config {

// Message name ids of a command record.
constexpr uint32_t CFGMSG_COMMAND = 0x70002;
constexpr uint32_t CFGMSG_NAME_ID = 0x70004;
constexpr uint32_t CFGMSG_COMMAND_TYPE = 0x70006;
constexpr uint32_t CFGMSG_STATUS = 0x70008;

class IConfigCommand;

// Receives a dispatched command, one operation per command type 1 to 6.
class IConfigCommandHandler {
public:
    virtual ~IConfigCommandHandler() = default;
    virtual uint32_t HandleType1(IConfigCommand& command) = 0;
    virtual uint32_t HandleType2(IConfigCommand& command) = 0;
    virtual uint32_t HandleType3(IConfigCommand& command) = 0;
    virtual uint32_t HandleType4(IConfigCommand& command) = 0;
    virtual uint32_t HandleType5(IConfigCommand& command) = 0;
    virtual uint32_t HandleType6(IConfigCommand& command) = 0;
};

class IConfigCommand : private boost::noncopyable {
public:
    virtual ~IConfigCommand() = default;
    virtual uint32_t GetNameId() const = 0;
    virtual uint32_t GetCommandType() const = 0;
    virtual uint32_t GetValueType() const = 0;
    virtual uint32_t GetStatus() const = 0;
    virtual uint32_t SetStatus(const uint32_t& status) = 0;
    virtual uint32_t GetValue(std::u16string& value) const = 0;
    virtual uint32_t GetValue(uint64_t& value) const = 0;
    virtual uint32_t GetValue(unsigned int& value) const = 0;
    virtual uint32_t GetValue(unsigned short& value) const = 0;
    virtual uint32_t GetValue(unsigned char& value) const = 0;
    virtual uint32_t GetValue(int64_t& value) const = 0;
    virtual uint32_t GetValue(int& value) const = 0;
    virtual uint32_t GetValue(short& value) const = 0;
    virtual uint32_t GetValue(char& value) const = 0;
    virtual uint32_t GetValue(bool& value) const = 0;
    virtual uint32_t GetValue(VELK_DataHandleWrapper& value) const = 0;
    virtual uint32_t SetValue(const std::u16string& value) = 0;
    virtual uint32_t SetValue(const uint64_t& value) = 0;
    virtual uint32_t SetValue(const unsigned int& value) = 0;
    virtual uint32_t SetValue(const unsigned short& value) = 0;
    virtual uint32_t SetValue(const unsigned char& value) = 0;
    virtual uint32_t SetValue(const int64_t& value) = 0;
    virtual uint32_t SetValue(const int& value) = 0;
    virtual uint32_t SetValue(const short& value) = 0;
    virtual uint32_t SetValue(const char& value) = 0;
    virtual uint32_t SetValue(const bool& value) = 0;
    virtual uint32_t SetValue(const VELK_DataHandleWrapper& value) = 0;
    // Writes type, key, status and the value into a command record; 0xE0FF0007 without value.
    virtual uint32_t Serialize(VELK_DataHandleWrapper& record) const = 0;
    // Hands the command to the handler's operation of its type; the result becomes the status.
    virtual uint32_t Dispatch(IConfigCommandHandler* handler) = 0;
};

class CConfigCommand final : public IConfigCommand {
public:
    // A command made by a caller: status success, no value yet.
    CConfigCommand(uint32_t commandType, uint32_t key)
        : m_commandType(commandType), m_key(key), m_status(0x20FF0000) {}
    // A command read from a command record.
    explicit CConfigCommand(const VELK_DataHandleWrapper& record);

    uint32_t GetNameId() const override { return m_key; }
    uint32_t GetCommandType() const override { return m_commandType; }
    uint32_t GetValueType() const override { return m_value ? m_value->GetType() : CVT_NONE; }
    uint32_t GetStatus() const override { return m_status; }
    uint32_t SetStatus(const uint32_t& status) override;

    uint32_t GetValue(std::u16string& v) const override { return Get(v); }
    uint32_t GetValue(uint64_t& v) const override { return Get(v); }
    uint32_t GetValue(unsigned int& v) const override { return Get(v); }
    uint32_t GetValue(unsigned short& v) const override { return Get(v); }
    uint32_t GetValue(unsigned char& v) const override { return Get(v); }
    uint32_t GetValue(int64_t& v) const override { return Get(v); }
    uint32_t GetValue(int& v) const override { return Get(v); }
    uint32_t GetValue(short& v) const override { return Get(v); }
    uint32_t GetValue(char& v) const override { return Get(v); }
    uint32_t GetValue(bool& v) const override { return Get(v); }
    uint32_t GetValue(VELK_DataHandleWrapper& v) const override { return Get(v); }
    uint32_t SetValue(const std::u16string& v) override { return Set(v); }
    uint32_t SetValue(const uint64_t& v) override { return Set(v); }
    uint32_t SetValue(const unsigned int& v) override { return Set(v); }
    uint32_t SetValue(const unsigned short& v) override { return Set(v); }
    uint32_t SetValue(const unsigned char& v) override { return Set(v); }
    uint32_t SetValue(const int64_t& v) override { return Set(v); }
    uint32_t SetValue(const int& v) override { return Set(v); }
    uint32_t SetValue(const short& v) override { return Set(v); }
    uint32_t SetValue(const char& v) override { return Set(v); }
    uint32_t SetValue(const bool& v) override { return Set(v); }
    uint32_t SetValue(const VELK_DataHandleWrapper& v) override { return Set(v); }

    uint32_t Serialize(VELK_DataHandleWrapper& record) const override;
    uint32_t Dispatch(IConfigCommandHandler* handler) override;

private:
    template <typename T>
    uint32_t Get(T& value) const {
        if (!m_value) return 0xE0FF0007;
        if (m_status & 0x80000000u) return m_status;  // the host failed this key
        return m_value->GetValue(value);
    }
    // The first value set decides the value's class; later ones are converted into it.
    template <typename T>
    uint32_t Set(const T& value) {
        if (!m_value) m_value = CreateEmptyConfigValue(ConfigValueTypeOf<T>());
        return m_value->SetValue(value);
    }

    uint32_t m_commandType;
    uint32_t m_key;
    uint32_t m_status;
    boost::shared_ptr<CConfigValue> m_value;
};

}  // namespace config
