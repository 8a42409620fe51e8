#include "settings/account_edits.h"

#include "common/shared_data.h"
#include "settings/settings.h"

namespace {
AccountSet workingCopy;
bool open = false;
}  // namespace

void BeginAccountEdits() {
    SharedDataGuard guard(SharedDataMutex());
    for (int i = 0; i < ValidAccountCount(AccountTable); ++i) AccountIdentity(AccountTable, i);
    workingCopy = AccountTable;
    open = true;
}

AccountSet* AccountEdits() {
    SharedDataGuard guard(SharedDataMutex());
    return open ? &workingCopy : nullptr;
}

void CommitAccountEdits() {
    {
        // Table and descriptors change together: a store on a worker sees
        // either the old count with the old records or the new with the new.
        SharedDataGuard guard(SharedDataMutex());
        if (open) AccountTable = workingCopy;
        open = false;
        CreateAccountRegInfo();
    }
    StoreSettings();
}

void DiscardAccountEdits() {
    SharedDataGuard guard(SharedDataMutex());
    open = false;
}

void RecordRunResult(std::uint32_t id, const Account& before, const Account& after) {
    SharedDataGuard guard(SharedDataMutex());
    ApplyRunResult(AccountTable, id, before, after);
    if (open) ApplyRunResult(workingCopy, id, before, after);
}
