// Dialog logic that needs no window: the interval choices, the account list
// texts, the form rules and the reading of number fields.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/text.h"  // IsWebAddress, which the dialogs use
#include "model/account.h"

struct IntervalRow {
    const char* Label;
    std::uint32_t Milliseconds;
};

constexpr int IntervalCount = 18;
// The intervals offered for "SleepTime", ascending, closed by an empty row.
extern const IntervalRow IntervalTable[IntervalCount + 1];

// The last row whose interval does not exceed sleepTime; row 0 when
// sleepTime is below the first row or negative (the timer's one-minute floor).
int IntervalRowFor(std::int32_t sleepTime);
// The interval of a row; false when the row is not one of the table's.
bool IntervalOfRow(int row, std::int32_t* milliseconds);

// "Connection" rows: the row index is the stored value.
constexpr int ConnectionCount = 2;
extern const char* const ConnectionLabels[ConnectionCount];

// Enough for a full host name and " (disabled)".
constexpr std::size_t AccountRowSize = 192;
// The full host name, with " (disabled)" when the account's Update flag is 0.
void AccountRowText(const Account& account, char* out, std::size_t size);

// The form may be applied: host, user and password typed and a server row
// chosen, so that no account ever gets a Server that is no row.
bool AccountFormComplete(const Account& form);

enum class NumberField { Ok, NotANumber, TooLarge };
// Reads an unsigned decimal field; an empty or all-blank field is 0. Digits
// only, at most maximum. *value is left alone unless the result is Ok.
NumberField ReadNumberField(const char* text, std::uint32_t maximum, std::uint32_t* value);
