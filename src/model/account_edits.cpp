#include "model/account_edits.h"

#include "common/shared_data.h"

namespace {
AccountSet workingCopy;
bool open = false;
void (*tellResultLanded)() = nullptr;
}  // namespace

void BeginAccountEdits(void (*resultLanded)()) {
    SharedDataGuard guard(SharedDataMutex());
    for (int i = 0; i < ValidAccountCount(AccountTable); ++i) AccountIdentity(AccountTable, i);
    workingCopy = AccountTable;
    open = true;
    tellResultLanded = resultLanded;
}

AccountSet* AccountEdits() {
    SharedDataGuard guard(SharedDataMutex());
    return open ? &workingCopy : nullptr;
}

void TakeAccountEdits() {
    SharedDataGuard guard(SharedDataMutex());
    if (open) AccountTable = workingCopy;
    open = false;
}

void DiscardAccountEdits() {
    SharedDataGuard guard(SharedDataMutex());
    open = false;
}

void RecordRunResult(std::uint32_t id, const Account& before, const Account& after) {
    SharedDataGuard guard(SharedDataMutex());
    ApplyRunResult(AccountTable, id, before, after);
    if (open && ApplyRunResult(workingCopy, id, before, after) && tellResultLanded) tellResultLanded();
}
