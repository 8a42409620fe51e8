// Dialog logic that needs no window: the interval choices, the account list
// texts, the form rules and the reading of number fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/text.h"  // IsWebAddress, which the dialogs use
#include "model/account.h"
#include "model/server_table.h"
#include "update/services.h"

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
// The full host name, with " (disabled)" when the account's Update flag is
// 0, else the last try's short state (" - up to date", " - refused", ...).
void AccountRowText(const Account& account, char* out, std::size_t size);

// The Server drop-down: the catalogue's services in its order (the services
// people use), then the maker's rows. Stored "Server" and "Service" values
// keep their meaning; only the items' order is the list's.
constexpr int ServerChoiceCount = ServerCount + ServiceCount;
// The item that shows the record's server or service; -1 when it names none.
int ServerChoiceOf(const Account& account);
// Server and Service of an item: a row and 0, or -1 and the service; no item
// (or none of the list's) gives -1 and 0.
void TakeServerChoice(int item, Account& form);
// What the item shows: the service's name or the row's domain.
const char* ServerChoiceName(int item);

// What the Accounts form asks for with that server or service: the labels of
// the user name and password fields, which fields it takes (ServiceField
// bits) and how many characters fit. No choice yet reads as a maker's row.
struct AccountFormShape {
    const char* UserLabel;
    const char* PasswordLabel;
    unsigned Fields;
    int UserLimit;
    int PasswordLimit;
    bool TakesAddresses = false;  // the "Addresses" choice: a service that takes IPv6
    int AddressChoices = 1;       // its rows offered: "IPv4", "IPv6", "IPv4 and IPv6"
    const char* ServerLabel = "Update ser&ver";  // the "Update server" field's label
};
AccountFormShape AccountFormFor(std::int32_t server, std::int32_t service);
constexpr int HostLimit = sizeof(Account::HostName) - 1;
constexpr int MailExtenderLimit = sizeof(Account::MailExtender) - 1;
constexpr int UpdateServerLimit = sizeof(Account::UpdateServer) - 1;

// The typed user name and password, where the form's server keeps them: the
// catalogue's longer fields for a service, else the maker's. Cut to fit.
void SetFormUserName(Account& form, const char* text);
void SetFormPassword(Account& form, const char* text);
// "Addresses" rows: the row index is the stored value.
constexpr int AddressesChoiceCount = 3;
extern const char* const AddressesLabels[AddressesChoiceCount];
// The row that shows the record's choice: "IPv4" where its server does not
// take the choice or the value is damaged.
int AddressesChoiceOf(const Account& account);

// Empties what the form's server does not take (the other kind's
// credentials, a field shown disabled; "Addresses" becomes "IPv4"), so that
// nothing unseen is stored.
void ClearFieldsNotTaken(Account& form);

// The form may be applied: a server row or a service chosen, so that no
// account ever gets a Server that is no row, and host name, password and the
// user name and update server where the choice needs them typed.
bool AccountFormComplete(const Account& form);
// The texts of the Accounts form as typed, whole: the form tidies them
// (TakeFormTexts) and refuses what does not fit, never cutting it.
struct FormTexts {
    std::string Host, User, Password, MailExtender, UpdateServer;
};
// Into the form: blanks around the host and the update server dropped, and
// around a catalogue account's user name and password (a pasted token often
// brings one; the maker's rows keep their credentials as typed); a host typed
// as an address ("https://name/path") gives its name. "" when all fits, else
// the message that names the field and its limit.
std::string TakeFormTexts(const FormTexts& texts, Account& form);

// What keeps a complete form from being applied, as the message that says
// so; "" when nothing does: an update server that names no usable host or
// path, a Namecheap host outside its domain.
std::string AccountFormProblem(const Account& form);

enum class NumberField { Ok, NotANumber, TooLarge };
// Reads an unsigned decimal field; an empty or all-blank field is 0. Digits
// only, at most maximum. *value is left alone unless the result is Ok.
NumberField ReadNumberField(const char* text, std::uint32_t maximum, std::uint32_t* value);
