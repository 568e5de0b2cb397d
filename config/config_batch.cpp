// Configuration batches: the header and command records of the wire format, written and read
// field by field in the documented order.
#include "config/config_batch.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace config {
namespace {

constexpr uint32_t kHeaderText0 = 0x207D3;
constexpr uint32_t kHeaderText1 = 0x2076D;
constexpr uint32_t kHeaderText2 = 0x2076E;
constexpr uint32_t kHeaderNumber0 = 0x20641;
constexpr uint32_t kHeaderWideText = 0x20640;
constexpr uint32_t kHeaderNumber1 = 0x20899;
constexpr uint32_t kHeaderNumber2 = 0x2089A;
constexpr uint32_t kHeaderNumber3 = 0x2089B;
constexpr uint32_t kTextGroup = 0x10002;
constexpr uint32_t kWideGroup = 0x10001;
constexpr uint32_t kNumberGroup = 0x10003;

uint32_t PutText(VELK_DataHandleWrapper& record, uint32_t nameId, const char* text) {
    return VELK_Msg_PutString(record.Handle(), nameId, text,
                              static_cast<uint32_t>(strnlen(text, 36)));
}

// A text into a fixed array, cut to its room and always terminated.
template <typename Unit, size_t N>
void CopyCut(const std::basic_string<Unit>& text, Unit (&out)[N]) {
    const size_t length = std::min(text.size(), N - 1);
    std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(length), out);
    out[length] = Unit(0);
}

void WriteHeader(const CConfigBatchHeader& header, VELK_DataHandleWrapper& record) {
    VELK_DataHandleWrapper texts(kTextGroup, true);
    VELK_DataHandleWrapper wide(kWideGroup, true);
    VELK_DataHandleWrapper numbers(kNumberGroup, true);
    wide.PutUInt32(kHeaderNumber0, header.Number0);
    const char16_t* end = std::find(header.WideText, header.WideText + 127, u'\0');
    wide.PutWString(kHeaderWideText, std::u16string(header.WideText, end));
    numbers.PutUInt32(kHeaderNumber1, header.Number1);
    numbers.PutUInt32(kHeaderNumber2, header.Number2);
    numbers.PutUInt32(kHeaderNumber3, header.Number3);
    PutText(texts, kHeaderText1, header.Text1);
    PutText(texts, kHeaderText2, header.Text2);
    texts.PutData(wide);
    texts.PutData(numbers);
    PutText(record, kHeaderText0, header.Text0);
    record.PutData(texts);
}

void ReadHeader(const VELK_DataHandleWrapper& record, CConfigBatchHeader& header) {
    std::string text;
    record.GetStringAt(kHeaderText0, text);
    CopyCut(text, header.Text0);
    VELK_DataHandleWrapper texts;
    record.GetDataAt(kTextGroup, 0, texts);
    texts.GetStringAt(kHeaderText1, text);
    CopyCut(text, header.Text1);
    texts.GetStringAt(kHeaderText2, text);
    CopyCut(text, header.Text2);
    VELK_DataHandleWrapper wide;
    texts.GetDataAt(kWideGroup, 0, wide);
    wide.GetUInt32At(kHeaderNumber0, header.Number0);
    std::u16string wideText;
    wide.GetWStringAt(kHeaderWideText, wideText);
    CopyCut(wideText, header.WideText);
    VELK_DataHandleWrapper numbers;
    texts.GetDataAt(kNumberGroup, 0, numbers);
    numbers.GetUInt32At(kHeaderNumber1, header.Number1);
    numbers.GetUInt32At(kHeaderNumber2, header.Number2);
    numbers.GetUInt32At(kHeaderNumber3, header.Number3);
}

}  // namespace

CConfigBatchCommands::CConfigBatchCommands(uint32_t action)
    : m_imp(new (std::nothrow) CConfigBatchCommandsImp) {
    if (m_imp) m_imp->action = action;
}

CConfigBatchCommands::CConfigBatchCommands(const VELK_DataHandleWrapper& message)
    : m_imp(new (std::nothrow) CConfigBatchCommandsImp) {
    if (!m_imp) return;
    message.GetUInt32At(CFGMSG_ACTION, m_imp->action);
    VELK_DataHandleWrapper header;
    message.GetDataAt(CFGMSG_HEADER, 0, header);  // no header: every field reads as zero
    ReadHeader(header, m_imp->header);

    uint32_t count = 0;
    message.GetSizeOf(CFGMSG_COMMAND, count);
    for (uint32_t index = 0; index < count; ++index) {
        VELK_DataHandleWrapper record;
        message.GetDataAt(CFGMSG_COMMAND, index, record);
        boost::shared_ptr<IConfigCommand> command(new CConfigCommand(record));
        m_imp->commands.emplace(command->GetNameId(), command);  // a repeated key keeps the first
    }
}

boost::shared_ptr<IConfigCommand> CConfigBatchCommands::MakeCommand(uint32_t commandType,
                                                                    uint32_t key) {
    CConfigCommand* command = new (std::nothrow) CConfigCommand(commandType, key);
    return command != nullptr ? boost::shared_ptr<IConfigCommand>(command)
                              : boost::shared_ptr<IConfigCommand>();
}

const IConfigCommand* CConfigBatchCommands::Find(uint32_t key) const {
    if (!m_imp) return nullptr;
    const auto found = m_imp->commands.find(key);
    return found != m_imp->commands.end() ? found->second.get() : nullptr;
}

uint32_t CConfigBatchCommands::SetStatus(uint32_t key, uint32_t status) {
    if (!m_imp) return 0xE0FF0007;
    const auto found = m_imp->commands.find(key);
    if (found == m_imp->commands.end()) return 0xE0FF0007;
    return found->second->SetStatus(status);
}

uint32_t CConfigBatchCommands::Serialize(VELK_DataHandleWrapper& output) const {
    if (!m_imp) return 0xE0FF0007;
    VELK_DataHandleWrapper batch(CFGMSG_BATCH, true);
    VELK_DataHandleWrapper header(CFGMSG_HEADER, true);
    WriteHeader(m_imp->header, header);
    batch.PutUInt32(CFGMSG_ACTION, m_imp->action);
    batch.PutData(header);

    uint32_t result = 0x20FF0000;
    for (const auto& entry : m_imp->commands) {
        VELK_DataHandleWrapper record(CFGMSG_COMMAND, true);
        const uint32_t written = entry.second->Serialize(record);
        if (written & 0x80000000u) result = written;
        batch.PutData(record);  // an empty record stands for a command without value
    }
    output.ShareFrom(batch.Handle());
    return result;
}

}  // namespace config
