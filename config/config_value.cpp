// CConfigValue's refusing defaults, its serialisation, and the value factories.
#include "config/config_value.h"

#include "config/config_value_classes.h"

namespace config {

CConfigValue::~CConfigValue() = default;

uint32_t CConfigValue::GetValue(std::u16string&) const { return kValueRefused; }
uint32_t CConfigValue::GetValue(uint64_t&) const { return kValueRefused; }
uint32_t CConfigValue::GetValue(unsigned int&) const { return kValueRefused; }
uint32_t CConfigValue::GetValue(unsigned short&) const { return kValueRefused; }
uint32_t CConfigValue::GetValue(unsigned char&) const { return kValueRefused; }
uint32_t CConfigValue::GetValue(int64_t&) const { return kValueRefused; }
uint32_t CConfigValue::GetValue(int&) const { return kValueRefused; }
uint32_t CConfigValue::GetValue(short&) const { return kValueRefused; }
uint32_t CConfigValue::GetValue(char&) const { return kValueRefused; }
uint32_t CConfigValue::GetValue(bool&) const { return kValueRefused; }
uint32_t CConfigValue::GetValue(VELK_DataHandleWrapper&) const { return kValueRefused; }
uint32_t CConfigValue::SetValue(const std::u16string&) { return kValueRefused; }
uint32_t CConfigValue::SetValue(const uint64_t&) { return kValueRefused; }
uint32_t CConfigValue::SetValue(const unsigned int&) { return kValueRefused; }
uint32_t CConfigValue::SetValue(const unsigned short&) { return kValueRefused; }
uint32_t CConfigValue::SetValue(const unsigned char&) { return kValueRefused; }
uint32_t CConfigValue::SetValue(const int64_t&) { return kValueRefused; }
uint32_t CConfigValue::SetValue(const int&) { return kValueRefused; }
uint32_t CConfigValue::SetValue(const short&) { return kValueRefused; }
uint32_t CConfigValue::SetValue(const char&) { return kValueRefused; }
uint32_t CConfigValue::SetValue(const bool&) { return kValueRefused; }
uint32_t CConfigValue::SetValue(const VELK_DataHandleWrapper&) { return kValueRefused; }

uint32_t CConfigValue::Serialize(VELK_DataHandleWrapper& command) const {
    if (m_type == CVT_NONE) return kValueRefused;
    command.PutInt32(CFGMSG_VALUE_TYPE, static_cast<int32_t>(m_type));
    command.PutData(m_value);
    return kValueOk;
}

boost::shared_ptr<CConfigValue> CreateEmptyConfigValue(uint32_t type) {
    switch (type) {
        case CVT_COMPLEX: return boost::shared_ptr<CConfigValue>(new CConfigValueComplex);
        case CVT_BOOL: return boost::shared_ptr<CConfigValue>(new CConfigValueBool);
        case CVT_CHAR: return boost::shared_ptr<CConfigValue>(new CConfigValueInt<char>);
        case CVT_SHORT: return boost::shared_ptr<CConfigValue>(new CConfigValueInt<short>);
        case CVT_INT: return boost::shared_ptr<CConfigValue>(new CConfigValueInt<int>);
        case CVT_INT64: return boost::shared_ptr<CConfigValue>(new CConfigValueInt<int64_t>);
        case CVT_UCHAR: return boost::shared_ptr<CConfigValue>(new CConfigValueInt<unsigned char>);
        case CVT_USHORT: return boost::shared_ptr<CConfigValue>(new CConfigValueInt<unsigned short>);
        case CVT_UINT: return boost::shared_ptr<CConfigValue>(new CConfigValueInt<unsigned int>);
        case CVT_UINT64: return boost::shared_ptr<CConfigValue>(new CConfigValueInt<uint64_t>);
        case CVT_WSTR: return boost::shared_ptr<CConfigValue>(new CConfigValueWstr);
        default: return boost::shared_ptr<CConfigValue>();
    }
}

boost::shared_ptr<CConfigValue> CreateConfigValue(const VELK_DataHandleWrapper& command) {
    int32_t tag = 0;
    command.GetInt32At(CFGMSG_VALUE_TYPE, tag);
    VELK_DataHandleWrapper fetched;  // a fresh anonymous record for the delivery
    command.GetDataAt(CFGMSG_VALUE, 0, fetched);

    boost::shared_ptr<CConfigValue> value = CreateEmptyConfigValue(static_cast<uint32_t>(tag));
    if (!value) return value;
    value->AdoptRecord(fetched.Handle());
    if (tag == CVT_COMPLEX) static_cast<CConfigValueComplex&>(*value).AdoptNameId();
    return value;
}

}  // namespace config
