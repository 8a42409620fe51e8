#include "ui/dialog_logic.h"

#include <cstdio>
#include <cstring>

#include "common/text.h"
#include "model/server_table.h"

const IntervalRow IntervalTable[IntervalCount + 1] = {
    {"1 min", 60000},      {"2 mins", 120000},     {"3 mins", 180000},     {"4 mins", 240000},    {"5 mins", 300000},
    {"10 mins", 600000},   {"15 mins", 900000},    {"20 mins", 1200000},   {"25 mins", 1500000},  {"30 mins", 1800000},
    {"45 mins", 2700000},  {"1 hour", 3600000},    {"2 hours", 7200000},   {"3 hours", 10800000}, {"4 hours", 14400000},
    {"8 hours", 28800000}, {"12 hours", 43200000}, {"24 hours", 86400000}, {nullptr, 0},
};

const char* const ConnectionLabels[ConnectionCount] = {"Modem", "LAN"};

int IntervalRowFor(std::int32_t sleepTime) {
    if (sleepTime < 0) return 0;  // the timer runs such a value every minute
    const std::uint32_t wanted = static_cast<std::uint32_t>(sleepTime);
    int chosen = 0;
    for (int row = 0; IntervalTable[row].Label; ++row)
        if (IntervalTable[row].Milliseconds <= wanted) chosen = row;
    return chosen;
}

bool IntervalOfRow(int row, std::int32_t* milliseconds) {
    if (row < 0 || row >= IntervalCount) return false;
    *milliseconds = static_cast<std::int32_t>(IntervalTable[row].Milliseconds);
    return true;
}

void AccountRowText(const Account& account, char* out, std::size_t size) {
    if (size == 0) return;
    char name[AccountRowSize];
    FullHostName(account, name, sizeof name);
    CopyText(out, size, name);
    if (account.Update == 0) AppendText(out, size, " (disabled)");
}

bool AccountFormComplete(const Account& form) {
    return form.HostName[0] && form.UserName[0] && form.Password[0] && ServerRow(form.Server) != nullptr;
}

NumberField ReadNumberField(const char* text, std::uint32_t maximum, std::uint32_t* value) {
    if (text == nullptr) text = "";
    while (*text == ' ') ++text;
    std::uint64_t number = 0;
    bool tooLarge = false;
    for (; *text >= '0' && *text <= '9'; ++text) {
        number = number * 10 + static_cast<unsigned>(*text - '0');
        if (number > maximum) tooLarge = true, number = maximum + std::uint64_t{1};
    }
    while (*text == ' ') ++text;
    if (*text) return NumberField::NotANumber;
    if (tooLarge) return NumberField::TooLarge;
    *value = static_cast<std::uint32_t>(number);
    return NumberField::Ok;
}
