#include "ui/dialog_logic.h"

#include <cstdio>
#include <cstring>

#include "app/account_state.h"
#include "common/text.h"
#include "model/server_table.h"
#include "update/services.h"

const IntervalRow IntervalTable[IntervalCount + 1] = {
    {"1 min", 60000},      {"2 mins", 120000},     {"3 mins", 180000},     {"4 mins", 240000},    {"5 mins", 300000},
    {"10 mins", 600000},   {"15 mins", 900000},    {"20 mins", 1200000},   {"25 mins", 1500000},  {"30 mins", 1800000},
    {"45 mins", 2700000},  {"1 hour", 3600000},    {"2 hours", 7200000},   {"3 hours", 10800000}, {"4 hours", 14400000},
    {"8 hours", 28800000}, {"12 hours", 43200000}, {"24 hours", 86400000}, {nullptr, 0},
};

const char* const ConnectionLabels[ConnectionCount] = {"Modem", "LAN"};
const char* const AddressesLabels[AddressesChoiceCount] = {"IPv4", "IPv6", "IPv4 and IPv6"};

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
    if (account.Update == 0) {
        AppendText(out, size, " (disabled)");
    } else if (ShortAccountState(account)[0]) {
        AppendText(out, size, " - ");
        AppendText(out, size, ShortAccountState(account));
    }
}

// The catalogue's stored service numbers as the Server list shows them: the most used first, the
// newer ones by name, "Other dyndns2 server" last.
const std::int32_t ServiceOrder[ServiceCount] = {1, 2, 3, 4, 5, 6, 7, 8, 17, 10, 14, 16, 18, 13, 11, 15, 12, 9};

int ServerChoiceOf(const Account& account) {
    if (account.Service != 0) {
        for (int item = 0; item < ServiceCount; ++item)
            if (ServiceOrder[item] == account.Service) return item;
        return -1;
    }
    return ServerRow(account.Server) ? ServiceCount + account.Server : -1;
}

void TakeServerChoice(int item, Account& form) {
    const bool service = item >= 0 && item < ServiceCount;
    const bool row = item >= ServiceCount && item < ServerChoiceCount;
    form.Server = row ? item - ServiceCount : -1;
    form.Service = service ? ServiceOrder[item] : 0;
}

const char* ServerChoiceName(int item) {
    if (item >= 0 && item < ServiceCount) return ServiceRow(ServiceOrder[item])->Name;
    return item >= ServiceCount && item < ServerChoiceCount ? ServerTable[item - ServiceCount].Domain : "";
}

AccountFormShape AccountFormFor(std::int32_t server, std::int32_t service) {
    const ServiceEntry* entry = ServiceRow(service);
    if (entry && server == -1) {
        AccountFormShape shape = {entry->UserLabel, entry->PasswordLabel, entry->Fields,
                                  sizeof(Account::ServiceUserName) - 1, sizeof(Account::ServicePassword) - 1};
        shape.AddressChoices = AddressChoices(*entry);
        shape.TakesAddresses = shape.AddressChoices > 1;
        if (entry->ServerLabel) shape.ServerLabel = entry->ServerLabel;
        return shape;
    }
    return {"User name", "Password", TakesUserName | NeedsUserName | TakesWildcards | TakesMailExtender | TakesBackupMX,
            sizeof(Account::UserName) - 1, sizeof(Account::Password) - 1};
}

void SetFormUserName(Account& form, const char* text) {
    if (form.Service != 0)
        CopyText(form.ServiceUserName, text);
    else
        CopyText(form.UserName, text);
}
void SetFormPassword(Account& form, const char* text) {
    if (form.Service != 0)
        CopyText(form.ServicePassword, text);
    else
        CopyText(form.Password, text);
}

int AddressesChoiceOf(const Account& account) {
    const bool valid =
        account.Addresses >= 0 && account.Addresses < AccountFormFor(account.Server, account.Service).AddressChoices;
    return valid ? account.Addresses : AddressesIPv4;
}

void ClearFieldsNotTaken(Account& form) {
    const unsigned fields = AccountFormFor(form.Server, form.Service).Fields;
    if (form.Service != 0) {
        form.UserName[0] = form.Password[0] = '\0';
    } else {
        form.ServiceUserName[0] = form.ServicePassword[0] = '\0';
    }
    if (!(fields & TakesUserName)) form.UserName[0] = form.ServiceUserName[0] = '\0';
    if (!(fields & TakesWildcards)) form.Wildcards = 0;
    if (!(fields & TakesMailExtender)) form.MailExtender[0] = '\0';
    if (!(fields & TakesBackupMX)) form.BackupMX = 0;
    if (!(fields & TakesUpdateServer)) form.UpdateServer[0] = '\0';
    form.Addresses = AddressesChoiceOf(form);
}

bool AccountFormComplete(const Account& form) {
    const bool chosen = form.Service != 0 ? form.Server == -1 && ServiceRow(form.Service) != nullptr
                                          : ServerRow(form.Server) != nullptr;
    const unsigned fields = AccountFormFor(form.Server, form.Service).Fields;
    return chosen && form.HostName[0] && AccountPassword(form)[0] &&
           (AccountUserName(form)[0] || !(fields & NeedsUserName)) &&
           (form.UpdateServer[0] || !(fields & TakesUpdateServer));
}

namespace {
std::string Trimmed(const std::string& text) {
    const std::size_t start = text.find_first_not_of(" \t");
    if (start == std::string::npos) return "";
    return text.substr(start, text.find_last_not_of(" \t") - start + 1);
}

// "https://home.example.net/path" is the host home.example.net.
std::string HostOfTyped(std::string host) {
    for (const char* scheme : {"http://", "https://"})
        if (host.size() > std::strlen(scheme) && StartsWithNoCase(host.c_str(), scheme))
            host.erase(0, std::strlen(scheme));
    return host.substr(0, host.find_first_of("/?#"));
}

// The label as a message names it: "User name" is "user name", "API token" stays.
std::string Named(const char* label) {
    std::string name = label;
    if (name.size() > 1 && LowerAscii(name[1]) == name[1]) name[0] = LowerAscii(name[0]);
    return name;
}
}  // namespace

std::string TakeFormTexts(const FormTexts& texts, Account& form) {
    const AccountFormShape shape = AccountFormFor(form.Server, form.Service);
    const bool catalogue = form.Service != 0;
    const std::string host = HostOfTyped(Trimmed(texts.Host)), server = Trimmed(texts.UpdateServer);
    const std::string user = catalogue ? Trimmed(texts.User) : texts.User;
    const std::string password = catalogue ? Trimmed(texts.Password) : texts.Password;
    // A field the chosen server does not take is stored empty, whatever it still shows.
    const struct {
        const std::string& text;
        std::string name;
        int limit;
        bool taken;
    } fields[] = {
        {host, "host", HostLimit, true},
        {user, Named(shape.UserLabel), shape.UserLimit, (shape.Fields & TakesUserName) != 0},
        {password, Named(shape.PasswordLabel), shape.PasswordLimit, true},
        {texts.MailExtender, "mail extender", MailExtenderLimit, (shape.Fields & TakesMailExtender) != 0},
        {server, "update server", UpdateServerLimit, (shape.Fields & TakesUpdateServer) != 0},
    };
    std::string problem;
    for (const auto& field : fields)
        if (problem.empty() && field.taken && static_cast<int>(field.text.size()) > field.limit)
            problem = "The " + field.name + " is longer than " + std::to_string(field.limit) +
                      " characters, the most Vastrel keeps there. Nothing was cut: check what was pasted.";
    CopyText(form.HostName, host.c_str());
    SetFormUserName(form, user.c_str());
    SetFormPassword(form, password.c_str());
    CopyText(form.MailExtender, texts.MailExtender.c_str());
    CopyText(form.UpdateServer, server.c_str());
    return problem;
}

std::string AccountFormProblem(const Account& form) {
    const ServiceEntry* service = form.Server == -1 ? ServiceRow(form.Service) : nullptr;
    if (!service) return "";
    ServiceTarget target;
    const char* why = "has no usable update server";
    if (!FindServiceTarget(*service, form.UpdateServer, target, why))
        return std::string("The account ") + why + ". Type it as host[:port][/path], with http:// in front for plain HTTP.";
    std::string part;
    if (TakesRegisteredDomain(*service) && !NamecheapHostPart(form.HostName, form.ServiceUserName, part))
        return std::string("The host must be the domain ") + form.ServiceUserName + " itself or a name within it, such as www." +
               form.ServiceUserName + ".";
    return "";
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
