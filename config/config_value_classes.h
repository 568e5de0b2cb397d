// The ten concrete configuration value classes. Each scalar class states its conversions as
// two templates, GetAs and SetAs; the overrides of the twenty scalar operations forward to them.
#pragma once
#include <cstring>

#include "config/config_value.h"
#include "config/value_conversions.h"

namespace config {

constexpr uint32_t kValueOk = 0x20FF0000;
constexpr uint32_t kValueRefused = 0xE0FF0007;

#define PEZ_CONFIG_SCALAR_OVERRIDES                                                         \
    uint32_t GetValue(std::u16string& v) const override { return GetAs(v); }                \
    uint32_t GetValue(uint64_t& v) const override { return GetAs(v); }                      \
    uint32_t GetValue(unsigned int& v) const override { return GetAs(v); }                  \
    uint32_t GetValue(unsigned short& v) const override { return GetAs(v); }                \
    uint32_t GetValue(unsigned char& v) const override { return GetAs(v); }                 \
    uint32_t GetValue(int64_t& v) const override { return GetAs(v); }                       \
    uint32_t GetValue(int& v) const override { return GetAs(v); }                           \
    uint32_t GetValue(short& v) const override { return GetAs(v); }                         \
    uint32_t GetValue(char& v) const override { return GetAs(v); }                          \
    uint32_t GetValue(bool& v) const override { return GetAs(v); }                          \
    uint32_t SetValue(const std::u16string& v) override { return SetAs(v); }                \
    uint32_t SetValue(const uint64_t& v) override { return SetAs(v); }                      \
    uint32_t SetValue(const unsigned int& v) override { return SetAs(v); }                  \
    uint32_t SetValue(const unsigned short& v) override { return SetAs(v); }                \
    uint32_t SetValue(const unsigned char& v) override { return SetAs(v); }                 \
    uint32_t SetValue(const int64_t& v) override { return SetAs(v); }                       \
    uint32_t SetValue(const int& v) override { return SetAs(v); }                           \
    uint32_t SetValue(const short& v) override { return SetAs(v); }                         \
    uint32_t SetValue(const char& v) override { return SetAs(v); }                          \
    uint32_t SetValue(const bool& v) override { return SetAs(v); }                          \
    using CConfigValue::GetValue;                                                           \
    using CConfigValue::SetValue;

class CConfigValueBool final : public CConfigValue {
public:
    CConfigValueBool() : CConfigValue(CVT_BOOL) {}
    PEZ_CONFIG_SCALAR_OVERRIDES

private:
    bool Load() const {
        int32_t stored = 0;
        m_value.GetInt32At(CFGMSG_VALUE, stored);
        return stored != 0;
    }
    uint32_t Store(bool value) {
        return StoreRecord([value](VELK_DataHandleWrapper& record) {
            record.PutInt32(CFGMSG_VALUE, value ? 1 : 0);
        });
    }
    template <typename R>
    uint32_t GetAs(R& out) const {
        const bool stored = Load();
        if constexpr (std::is_same_v<R, std::u16string>) {
            out = BoolText(stored);
        } else {
            out = static_cast<R>(stored ? 1 : 0);
        }
        return kValueOk;
    }
    template <typename R>
    uint32_t SetAs(const R& in) {
        if constexpr (std::is_same_v<R, std::u16string>) {
            bool parsed = false;
            if (!ParseText(in, parsed)) return kValueRefused;
            return Store(parsed);
        } else {
            return Store(in != 0);
        }
    }
};

template <typename S>
class CConfigValueInt final : public CConfigValue {
public:
    CConfigValueInt() : CConfigValue(ConfigValueTypeOf<S>()) {}
    PEZ_CONFIG_SCALAR_OVERRIDES

private:
    S Load() const {
        if constexpr (std::is_same_v<S, int>) {
            int32_t stored = 0;
            m_value.GetInt32At(CFGMSG_VALUE, stored);
            return stored;
        } else if constexpr (std::is_same_v<S, unsigned int>) {
            uint32_t stored = 0;
            m_value.GetUInt32At(CFGMSG_VALUE, stored);
            return stored;
        } else {
            unsigned char bytes[sizeof(S)] = {};
            uint32_t size = sizeof(S);
            m_value.GetBinaryAt(CFGMSG_VALUE, bytes, size);
            S stored;
            std::memcpy(&stored, bytes, sizeof(S));
            return stored;
        }
    }
    uint32_t Store(S value) {
        return StoreRecord([value](VELK_DataHandleWrapper& record) {
            if constexpr (std::is_same_v<S, int>) {
                record.PutInt32(CFGMSG_VALUE, value);
            } else if constexpr (std::is_same_v<S, unsigned int>) {
                record.PutUInt32(CFGMSG_VALUE, value);
            } else {
                record.PutBinary(CFGMSG_VALUE, &value, sizeof(S));  // memory order: little-endian
            }
        });
    }
    template <typename R>
    uint32_t GetAs(R& out) const {
        const S stored = Load();
        if constexpr (std::is_same_v<R, bool>) {
            out = stored != 0;
        } else if constexpr (std::is_same_v<R, std::u16string>) {
            out = IntegerText(stored);
        } else {
            R converted;
            if (!RangeCast(stored, converted)) return kValueRefused;
            out = converted;
        }
        return kValueOk;
    }
    template <typename R>
    uint32_t SetAs(const R& in) {
        S converted;
        if constexpr (std::is_same_v<R, bool>) {
            converted = in ? 1 : 0;
        } else if constexpr (std::is_same_v<R, std::u16string>) {
            // A single byte is never set from text.
            if (kIsCharType<S> || !ParseText(in, converted)) return kValueRefused;
        } else {
            if (!RangeCast(in, converted)) return kValueRefused;
        }
        return Store(converted);
    }
};

class CConfigValueWstr final : public CConfigValue {
public:
    CConfigValueWstr() : CConfigValue(CVT_WSTR) {}
    PEZ_CONFIG_SCALAR_OVERRIDES

private:
    std::u16string Load() const {
        std::u16string stored;
        m_value.GetWStringAt(CFGMSG_VALUE, stored);
        return stored;
    }
    uint32_t Store(const std::u16string& value) {
        return StoreRecord([&value](VELK_DataHandleWrapper& record) {
            record.PutWString(CFGMSG_VALUE, value);
        });
    }
    template <typename R>
    uint32_t GetAs(R& out) const {
        const std::u16string stored = Load();
        if constexpr (std::is_same_v<R, std::u16string>) {
            out = stored;
            return kValueOk;
        } else if constexpr (std::is_same_v<R, bool> || std::is_signed_v<R>) {
            int64_t parsed = 0;
            if (!ParseText(stored, parsed)) return kValueRefused;
            return Narrow(parsed, out);
        } else {
            uint64_t parsed = 0;
            if (!ParseText(stored, parsed)) return kValueRefused;
            return Narrow(parsed, out);
        }
    }
    template <typename Wide, typename R>
    static uint32_t Narrow(Wide parsed, R& out) {
        if constexpr (std::is_same_v<R, bool>) {
            out = parsed != 0;
        } else {
            R converted;
            if (!RangeCast(parsed, converted)) return kValueRefused;
            out = converted;
        }
        return kValueOk;
    }
    template <typename R>
    uint32_t SetAs(const R& in) {
        if constexpr (std::is_same_v<R, std::u16string>) {
            return Store(in);
        } else if constexpr (std::is_same_v<R, bool>) {
            return Store(BoolText(in));
        } else {
            return Store(IntegerText(in));
        }
    }
};

class CConfigValueComplex final : public CConfigValue {
public:
    CConfigValueComplex() : CConfigValue(CVT_COMPLEX) {}
    // The parsed form: the nested record's name id is read back from the value record.
    void AdoptNameId() { m_value.GetUInt32At(CFGMSG_VALUE, m_nameId); }

    uint32_t GetValue(VELK_DataHandleWrapper& value) const override {
        m_value.GetDataAt(m_nameId, 0, value);
        return kValueOk;
    }
    uint32_t SetValue(const VELK_DataHandleWrapper& value) override {
        uint32_t nameId = 0;
        value.GetNameId(nameId);
        m_nameId = nameId;
        return StoreRecord([&value, nameId](VELK_DataHandleWrapper& record) {
            record.PutUInt32(CFGMSG_VALUE, nameId);
            record.PutData(value);
        });
    }
    using CConfigValue::GetValue;
    using CConfigValue::SetValue;

private:
    uint32_t m_nameId = 0;
};

}  // namespace config
