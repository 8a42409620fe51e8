// The dialogs' rules for typed text: number fields, intervals, account rows
// and the account form.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "ui/dialog_logic.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (std::uint32_t maximum : {99u, 99999u, 0xFFFFFFFFu}) {
        std::uint32_t value = 12345;
        if (ReadNumberField(text.c_str(), maximum, &value) == NumberField::Ok && value > maximum) __builtin_trap();
    }
    std::int32_t number = 0;
    std::memcpy(&number, data, size < 4 ? size : 4);
    int row = IntervalRowFor(number);
    std::int32_t interval = 0;
    if (!IntervalOfRow(row, &interval)) __builtin_trap();
    Account form;
    std::memset(&form, 0, sizeof form);
    std::memcpy(&form, data, size < sizeof form ? size : sizeof form);
    char listed[AccountRowSize];
    AccountRowText(form, listed, sizeof listed);
    if (std::strlen(listed) >= sizeof listed) __builtin_trap();
    AccountFormComplete(form);
    UnsafeAccountField(form);
    return 0;
}
