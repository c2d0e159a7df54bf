#include "transport/deviceinterface.h"

#include "transport/crc16.h"

TDeviceInterface::~TDeviceInterface() = default;

std::string TDeviceInterface::ValidationError(const TFrame &answer)
{
    // Too short to hold an address, a function and two check bytes' worth: nothing to judge by.
    if (answer.size < 3 || answer.size > TFrame::kCapacity)
        return kShortAnswer;
    const uint16_t check = ModbusCrc16(answer.data.data(), static_cast<size_t>(answer.size - 2));
    const bool exception = (answer.data[1] & 0x80) != 0;
    const bool badCheck
        = (check >> 8) != answer.data[answer.size - 2] || (check & 0xFF) != answer.data[answer.size - 1];
    if (!exception && !badCheck)
        return {};
    switch (answer.data[2]) {
    case 1:
        return "Принятый код функции не может быть обработан устройством.";
    case 2:
        return "Адрес данных, указанный в запросе, недоступен данному устройству.";
    case 3:
        return "Величина, содержащаяся в поле данных запроса, является недопустимой величиной для устройства.";
    case 4:
        return "Невосстанавливаемая ошибка имела место, пока устройство пыталось выполнить затребованное действие.";
    // Read answers of 33 and 35 registers; the installation is known to send them with check bytes
    // that do not match, and they are taken as they are.
    case 66:
    case 70:
        return {};
    default:
        return "Неизвестная ошибка.";
    }
}

void TDeviceInterface::ReadAnswer()
{
    CompleteAnswer([](TFrame &answer) {
        if (answer.size >= 2) {
            answer.crcH = answer.data[answer.size - 2];
            answer.crcL = answer.data[answer.size - 1];
        }
        const std::string error = ValidationError(answer);
        if (!error.empty())
            throw EKestError(error);
    });
}
