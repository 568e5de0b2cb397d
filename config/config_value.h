// Configuration values: the typed payload of one configuration command. A value can be read
// as any of eleven types and written from any of them; conversions refuse every value that
// does not fit (0xE0FF0007) and leave the caller's variable, or the stored datum, unchanged.
// The datum lives in a message record of the value's own (name 0x70005, one field 0x70005),
// so serialising a command only attaches that record. Values belong to one thread at a time.
#pragma once
#include <cstdint>
#include <string>

#include <boost/noncopyable.hpp>
#include <boost/shared_ptr.hpp>

#include "host/velk_data_handle_wrapper.h"

namespace config {

enum ConfigValueType : uint32_t {
    CVT_NONE = 0,
    CVT_COMPLEX = 1,
    CVT_BOOL = 2,
    CVT_CHAR = 3,
    CVT_SHORT = 4,
    CVT_INT = 5,
    CVT_INT64 = 6,
    CVT_UCHAR = 7,
    CVT_USHORT = 8,
    CVT_UINT = 9,
    CVT_UINT64 = 10,
    CVT_WSTR = 11,
};

// Message name ids of a value.
constexpr uint32_t CFGMSG_VALUE = 0x70005;       // the value record and its datum field
constexpr uint32_t CFGMSG_VALUE_TYPE = 0x70007;  // the type tag in a command record

static_assert(std::is_signed_v<char>, "char is the signed 8-bit type of CVT_CHAR");

class CConfigValue : private boost::noncopyable {
public:
    virtual ~CConfigValue() = 0;
    virtual uint32_t GetType() const { return m_type; }

    // Every get and set answers 0xE0FF0007 unless the class overrides it.
    virtual uint32_t GetValue(std::u16string& value) const;
    virtual uint32_t GetValue(uint64_t& value) const;
    virtual uint32_t GetValue(unsigned int& value) const;
    virtual uint32_t GetValue(unsigned short& value) const;
    virtual uint32_t GetValue(unsigned char& value) const;
    virtual uint32_t GetValue(int64_t& value) const;
    virtual uint32_t GetValue(int& value) const;
    virtual uint32_t GetValue(short& value) const;
    virtual uint32_t GetValue(char& value) const;
    virtual uint32_t GetValue(bool& value) const;
    virtual uint32_t GetValue(VELK_DataHandleWrapper& value) const;
    virtual uint32_t SetValue(const std::u16string& value);
    virtual uint32_t SetValue(const uint64_t& value);
    virtual uint32_t SetValue(const unsigned int& value);
    virtual uint32_t SetValue(const unsigned short& value);
    virtual uint32_t SetValue(const unsigned char& value);
    virtual uint32_t SetValue(const int64_t& value);
    virtual uint32_t SetValue(const int& value);
    virtual uint32_t SetValue(const short& value);
    virtual uint32_t SetValue(const char& value);
    virtual uint32_t SetValue(const bool& value);
    virtual uint32_t SetValue(const VELK_DataHandleWrapper& value);

    // Writes the type tag (0x70007) and the value record into a command record.
    virtual uint32_t Serialize(VELK_DataHandleWrapper& command) const;

    // Makes the value hold an existing value record (a parsed one).
    void AdoptRecord(const VELK_DataHandle& record) { m_value.ShareFrom(record); }

protected:
    explicit CConfigValue(uint32_t type) : m_type(type) {}
    // Replaces the value record by a fresh one that `write` fills with the datum field.
    template <typename Write>
    uint32_t StoreRecord(Write&& write) {
        VELK_DataHandleWrapper record(CFGMSG_VALUE, true);
        write(record);
        m_value.ShareFrom(record.Handle());
        return 0x20FF0000;
    }

    const uint32_t m_type;
    VELK_DataHandleWrapper m_value;  // an empty anonymous record until a datum is stored
};

// Builds the value a command record carries: its tag (0x70007) and value record (0x70005).
// An empty pointer for a missing or unknown tag.
boost::shared_ptr<CConfigValue> CreateConfigValue(const VELK_DataHandleWrapper& command);

// A value of the given tag holding no datum yet (for a command that has none); empty for an
// unknown tag.
boost::shared_ptr<CConfigValue> CreateEmptyConfigValue(uint32_t type);

// The tag of the class that holds a C++ type: bool, the eight integers, text, a record.
template <typename T>
constexpr uint32_t ConfigValueTypeOf() {
    if constexpr (std::is_same_v<T, bool>) return CVT_BOOL;
    else if constexpr (std::is_same_v<T, char>) return CVT_CHAR;
    else if constexpr (std::is_same_v<T, short>) return CVT_SHORT;
    else if constexpr (std::is_same_v<T, int>) return CVT_INT;
    else if constexpr (std::is_same_v<T, int64_t>) return CVT_INT64;
    else if constexpr (std::is_same_v<T, unsigned char>) return CVT_UCHAR;
    else if constexpr (std::is_same_v<T, unsigned short>) return CVT_USHORT;
    else if constexpr (std::is_same_v<T, unsigned int>) return CVT_UINT;
    else if constexpr (std::is_same_v<T, uint64_t>) return CVT_UINT64;
    else if constexpr (std::is_same_v<T, std::u16string>) return CVT_WSTR;
    else if constexpr (std::is_same_v<T, VELK_DataHandleWrapper>) return CVT_COMPLEX;
    else return CVT_NONE;
}

}  // namespace config
